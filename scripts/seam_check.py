#!/usr/bin/env python3
"""The seam rule (scripts/lint seam): the operating system is reached through the platform seam.

Reads the sources to check, one path a line, on standard input. Outside the rooms that may reach
the operating system (SEAM_ROOMS), a source may not include a Windows or POSIX header, use
std::filesystem, or call a clock, time or sleep function: each of those is a question for
tal::os::sys() (Platform/include/tal/platform.h), so that the fake platform can answer it in tests
and both backends answer it alike. Prints one line per finding, "file:line: seam: ...", and exits
1 when there is any.
"""
import re
import sys

# Where the operating system may be called directly.
SEAM_ROOMS = (
    "Platform/",  # the seam itself: win32/ and native/ backends, the fake, the simulated host
    "Simulator/",  # the simulated management processor and its channel library
    "Host/",  # talhost, a stand-in for the host's setup program
    "Tools/",  # the package-author tools
    "tests/",  # tests set up folders, clocks and processes around what they check
    "fuzz/",
    "bench/",
    "samples/",  # the sample driver package's stand-in driver is a Windows program
    "InstallDLL/src/exports.cpp",  # the process entry point (DllMain; natively the load hook)
)

WINDOWS_HEADERS = re.compile(
    r"(windows|win[a-z0-9_]*|nt[a-z]+|shlobj|shellapi|shlwapi|setupapi|newdev|cfgmgr32|devguid"
    r"|wbemidl|comdef|objbase|oleauto|ole2|aclapi|sddl|accctrl|tlhelp32|psapi|mmsystem|io|direct"
    r"|process|conio|share|dbghelp|lm[a-z]*|security|userenv|wtsapi32|tchar|crtdbg)\.h",
    re.IGNORECASE,
)
POSIX_HEADERS = re.compile(
    r"(unistd|dlfcn|fcntl|dirent|pthread|pwd|grp|iconv|link|poll|termios|spawn|sched|syslog"
    r"|semaphore|strings|glob|fnmatch|libgen|netdb|utime|ftw|mntent|err|wordexp|ucontext"
    r"|execinfo)\.h|(sys|netinet|arpa|linux)/.*"
)
FILESYSTEM_HEADERS = re.compile(r"(experimental/)?filesystem")

# Clock, time and sleep functions (the C and POSIX runtime, Windows, std::this_thread).
TIME_CALLS = {
    "time", "_time64", "_time32", "ftime", "_ftime", "localtime", "localtime_r", "localtime_s",
    "_localtime64", "_localtime64_s", "gmtime", "gmtime_r", "gmtime_s", "_gmtime64", "mktime",
    "timegm", "clock", "clock_gettime", "gettimeofday", "sleep", "usleep", "nanosleep",
    "clock_nanosleep", "Sleep", "SleepEx", "GetTickCount", "GetTickCount64", "GetSystemTime",
    "GetSystemTimeAsFileTime", "GetSystemTimePreciseAsFileTime", "GetLocalTime",
    "QueryPerformanceCounter", "QueryPerformanceFrequency", "timeGetTime", "sleep_for",
    "sleep_until",
}
CLOCKS = re.compile(r"\b(steady_clock|system_clock|high_resolution_clock|file_clock|utc_clock)\b")
# Qualifiers under which those names are the runtime's (a class's own time() is not).
RUNTIME_SCOPES = {"", "std", "this_thread", "chrono"}
# Words after which "name(" is still a call, not a declaration of a variable or function.
CALL_CONTEXT = {"return", "case", "else", "do", "throw", "co_return", "sizeof", "decltype"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
CALL = re.compile(r"\b([A-Za-z_]\w*)\s*\(")


def blank_comments_and_literals(text):
    """The text with comments, string and character literals replaced by blanks (lines kept)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def scope_before(code, start):
    """The qualifier written before position start ("std" for std::x, "" for ::x or x), or None
    when the name is a member (a.x, a->x) or declared after a type (int x()."""
    k = start
    while k > 0 and code[k - 1] in " \t":
        k -= 1
    if code[max(0, k - 1):k] == "." or code[max(0, k - 2):k] == "->":
        return None
    if code[max(0, k - 2):k] == "::":
        m = re.search(r"(\w*)::\s*$", code[:k])
        return m.group(1) if m else ""
    m = re.search(r"([\w>*&]+)\s*$", code[:k])
    if m and m.group(1) not in CALL_CONTEXT and re.match(r"[A-Za-z_>*&]", m.group(1)):
        # "int time(" or "std::string time(": a declaration of that name
        return None
    return ""


def check(path, text):
    findings = []
    code = blank_comments_and_literals(text)
    raw_lines = text.split("\n")
    line_start = 0
    for number, line in enumerate(code.split("\n"), 1):
        offset, line_start = line_start, line_start + len(line) + 1
        raw = raw_lines[number - 1] if number - 1 < len(raw_lines) else ""
        m = INCLUDE.match(raw) if line.lstrip().startswith("#") else None
        if m:
            header = m.group(2).strip()
            if m.group(1) == "<" and WINDOWS_HEADERS.fullmatch(header):
                findings.append((number, f"a Windows header <{header}>"))
            elif m.group(1) == "<" and POSIX_HEADERS.fullmatch(header):
                findings.append((number, f"a POSIX header <{header}>"))
            elif FILESYSTEM_HEADERS.fullmatch(header):
                findings.append((number, f"<{header}> (files and folders go through the seam)"))
            continue
        if "filesystem" in line and re.search(r"\bstd\s*::\s*(experimental\s*::\s*)?filesystem\b", line):
            findings.append((number, "std::filesystem (files and folders go through the seam)"))
        for m in CLOCKS.finditer(line):
            findings.append((number, f"the clock std::chrono::{m.group(1)}"))
        for m in CALL.finditer(line):
            name = m.group(1)
            if name not in TIME_CALLS:
                continue
            scope = scope_before(code, offset + m.start(1))
            if scope is not None and scope in RUNTIME_SCOPES:
                findings.append((number, f"the time call {name}()"))
    return findings


def main():
    status = 0
    for path in (p.strip() for p in sys.stdin):
        if not path or path.startswith(SEAM_ROOMS):
            continue
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError as e:
            print(f"{path}: seam: cannot be read: {e.strerror}")
            status = 1
            continue
        for number, what in check(path, text):
            print(
                f"{path}:{number}: seam: {what} outside the platform seam; only "
                "Platform/, Simulator/, Host/, Tools/, tests/, fuzz/, bench/ and samples/ reach "
                "the operating system directly: ask tal::os::sys() (tal/platform.h)"
            )
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
