// <windows.h> as the Windows backend's files include it: the API of Windows 7 and later, and
// without the min and max macros that would break the standard library's.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
