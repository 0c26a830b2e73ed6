# The release bundle of the Windows build: `cmake --build build-win --target package` makes
# build-win/InstallDLL-<version>-win64.zip (CPack, ZIP generator) holding, in one folder of that
# name:
#   install.dll, drvinstall.dll       the two plug-ins
#   talhost.exe, pkgcheck.exe,        the host setup program and the package-author tools
#   fwimage.exe, taldevice.exe
#   README.md
#   licenses/                         the notices of what the programs carry compiled in: Expat
#                                     (from the source the build used), the GCC runtime libraries
#                                     (libstdc++, libgcc: GPL 3 with the GCC Runtime Library
#                                     Exception), mingw-w64 (winpthreads and the C runtime start-up
#                                     code), nlohmann-json and CLI11 (header-only)
# Neither the simulated channel library (TalCi.dll comes with the server's management-processor
# software), nor the simulator's tools, nor any test program is in it.
if(NOT WIN32)
  return()
endif()

set(_bundled tal_install tal_drvinstall talhost pkgcheck fwimage taldevice)
foreach(t ${_bundled})
  if(NOT TARGET ${t})
    message(FATAL_ERROR "The release bundle needs the target ${t}")
  endif()
endforeach()
install(TARGETS ${_bundled} RUNTIME DESTINATION . LIBRARY DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

# The notices, found where the build took each library from (a missing one fails the packaging).
set(TAL_NOTICE_DOCS /usr/share/doc CACHE PATH "Debian's package documentation (copyright files)")
set(_notices
    "${TAL_EXPAT_SOURCE}/COPYING=expat.txt"
    "${TAL_NOTICE_DOCS}/g++-mingw-w64-x86-64-posix/copyright=gcc-runtime-libraries.txt"
    "${TAL_NOTICE_DOCS}/mingw-w64-x86-64-dev/copyright=mingw-w64-and-winpthreads.txt"
    "${TAL_NOTICE_DOCS}/nlohmann-json3-dev/copyright=nlohmann-json.txt"
    "${TAL_NOTICE_DOCS}/libcli11-dev/copyright=cli11.txt")
foreach(n ${_notices})
  string(REGEX MATCH "^(.*)=([^=]*)$" _m "${n}")
  install(FILES ${CMAKE_MATCH_1} DESTINATION licenses RENAME ${CMAKE_MATCH_2})
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME InstallDLL)
set(CPACK_PACKAGE_VENDOR TAL)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME InstallDLL-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Without the debug sections (a Debug build's programs are mostly debug information); the exports
# and the version resources stay, which the bundle's test checks.
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
include(CPack)
