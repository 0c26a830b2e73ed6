// The Linux backend: files, folders, environment, the process, text conversion, time, console.
#include "native_platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "backend.h"
#include "native_channel.h"
#include "tal/capture.h"

extern char **environ;

namespace tal::os {

const wchar_t *const kChannelLibraryName = L"libTalCi.so";

namespace detail {
Platform &builtinPlatform() {
  static native::NativePlatform platform;
  return platform;
}
}  // namespace detail

namespace native {

namespace {

// An open file of the framework's log.
struct NativeFile {
  int fd;
};

NativeFile *asFile(FileHandle handle) { return static_cast<NativeFile *>(handle); }

bool sameNameIgnoringCase(const char *a, size_t aLen, const std::string &b) {
  if (aLen != b.size()) return false;
  for (size_t i = 0; i < aLen; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The environment as the process has it, names compared ignoring case (an exact match wins,
// then the first in the environment's order).
bool findVariable(const std::string &name, std::string &value) {
  if (name.empty()) return false;
  if (const char *exact = getenv(name.c_str())) {
    value = exact;
    return true;
  }
  for (char **entry = environ; entry && *entry; ++entry) {
    const char *eq = strchr(*entry, '=');
    if (!eq) continue;
    if (sameNameIgnoringCase(*entry, static_cast<size_t>(eq - *entry), name)) {
      value = eq + 1;
      return true;
    }
  }
  return false;
}

std::string upper(const std::string &text) {
  std::string out = text;
  for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:" or "C:\\" (a Windows drive, not a Linux folder).
bool isDriveSpec(const std::string &text) {
  if (text.size() < 2 || !isDriveLetter(text[0]) || text[1] != ':') return false;
  for (size_t i = 2; i < text.size(); ++i)
    if (text[i] != '\\' && text[i] != '/') return false;
  return true;
}

// Makes FOLDER and its missing parents, private to the user; true when it is a folder now.
bool makeFolders(const std::string &folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The drive of a process that was given none: "tal/drive" in the user's state folder
// ($XDG_STATE_HOME, else ~/.local/state), made on first use. Without a home, or when that folder
// cannot be made, the current folder, said once on standard error. Never "/": the simulated host
// must not write the logs of a Windows drive into the root of the Linux file system.
std::string defaultDriveRoot() {
  std::string state;
  const char *xdg = getenv("XDG_STATE_HOME");
  const char *home = getenv("HOME");
  if (xdg && xdg[0] == '/') {
    state = xdg;
  } else if (home && home[0] == '/' && home[1] != '\0') {
    state = std::string(home) + "/.local/state";
  }
  if (!state.empty()) {
    const std::string drive = state + "/tal/drive";
    if (makeFolders(drive)) return drive;
  }
  static bool said = false;
  if (!said) {
    said = true;
    fprintf(stderr,
            "native host: SYSTEMDRIVE is not set and there is no state folder to hold the drive; "
            "drive C: is the current folder\n");
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd)) return cwd;
  return ".";
}

std::string driveRoot() {
  std::string root;
  if (!findVariable("SYSTEMDRIVE", root) || root.empty() || isDriveSpec(root))
    return defaultDriveRoot();
  for (char &c : root)
    if (c == '\\') c = '/';
  return root;
}

std::string joinRoot(std::string root, const std::string &rest) {
  size_t start = 0;
  while (start < rest.size() && rest[start] == '/') ++start;
  if (root.back() != '/') root.push_back('/');
  return root + rest.substr(start);
}

std::string readTextFile(const std::string &path, size_t limit, bool &ok) {
  ok = false;
  std::string out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) {
    out.append(buffer, got);
    if (out.size() > limit) {
      fclose(f);
      return std::string();
    }
  }
  ok = !ferror(f);
  fclose(f);
  return out;
}

// "1.2.3.4" (one to four parts, each 0 to 65535, blanks around the text allowed).
bool parseVersion(const std::string &text, FileVersion &out) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  size_t end = text.find_last_not_of(" \t\r\n");
  if (begin == std::string::npos) return false;
  FileVersion version;
  int part = 0;
  size_t i = begin;
  while (true) {
    if (part == 4 || i > end || !isdigit(static_cast<unsigned char>(text[i]))) return false;
    unsigned long value = 0;
    while (i <= end && isdigit(static_cast<unsigned char>(text[i]))) {
      value = value * 10 + static_cast<unsigned long>(text[i] - '0');
      if (value > 0xFFFF) return false;
      ++i;
    }
    version.part[part++] = static_cast<uint16_t>(value);
    if (i > end) break;
    if (text[i] != '.') return false;
    ++i;
  }
  out = version;
  return true;
}

std::wstring formatTime(const char *format) {
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return std::wstring();
  char buffer[64];
  size_t n = strftime(buffer, sizeof buffer, format, &local);
  return fromUtf8(std::string(buffer, n));
}

const char kModuleAnchor = 0;

}  // namespace

std::string mapPath(const std::string &path) {
  std::string slashed = path;
  for (char &c : slashed)
    if (c == '\\') c = '/';
  if (path.empty() || path[0] == '/') return slashed;
  if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':')
    return joinRoot(driveRoot(), slashed.substr(2));
  if (path[0] == '\\' && (path.size() == 1 || path[1] != '\\'))
    return joinRoot(driveRoot(), slashed);
  return slashed;
}

bool lookupVariable(const std::string &name, std::string &value) {
  if (findVariable(name, value)) return true;
  // A Windows process always has these. Without them the framework's Windows-style texts
  // ("%systemdrive%\\talsystem\\log\\") would stay unexpanded and make folders named after the
  // variable in the current directory; with them they map through the drive root as on Windows.
  const std::string key = upper(name);
  if (key == "SYSTEMDRIVE") {
    value = "C:";
  } else if (key == "SYSTEMROOT" || key == "WINDIR") {
    value = "C:\\Windows";
  } else if (key == "PROGRAMFILES") {
    value = "C:\\Program Files";
  } else if (key == "ALLUSERSPROFILE" || key == "PROGRAMDATA") {
    value = "C:\\ProgramData";
  } else if (key == "TEMP" || key == "TMP") {
    const char *tmp = getenv("TMPDIR");
    value = tmp && *tmp ? tmp : "/tmp";
  } else {
    return false;
  }
  return true;
}

std::wstring expand(const std::wstring &text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'%') {
      size_t next = text.find(L'%', i);
      if (next == std::wstring::npos) next = text.size();
      out.append(text, i, next - i);
      i = next;
      continue;
    }
    size_t close = text.find(L'%', i + 1);
    if (close == std::wstring::npos) {  // an unpaired '%' stays as written
      out.append(text, i, std::wstring::npos);
      break;
    }
    std::string value;
    const std::wstring name = text.substr(i + 1, close - i - 1);
    if (!name.empty() && lookupVariable(toUtf8(name), value)) {
      out += fromUtf8(value);
    } else {
      out.append(text, i, close - i + 1);
    }
    i = close + 1;
  }
  return out;
}

NativePlatform::NativePlatform() : channel_(std::make_unique<NativeChannelLibrary>()) {}
NativePlatform::~NativePlatform() = default;

// --- files and folders ---

bool NativePlatform::createDirectory(const std::wstring &path) {
  return mkdir(mapPath(toUtf8(path)).c_str(), 0777) == 0;
}

bool NativePlatform::pathExists(const std::wstring &path) {
  struct stat st;
  return stat(mapPath(toUtf8(path)).c_str(), &st) == 0;
}

bool NativePlatform::isRegularFile(const std::wstring &path) {
  struct stat st;
  return stat(mapPath(toUtf8(path)).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileHandle NativePlatform::openShared(const std::wstring &path) {
  // O_APPEND: every write lands at the end, also when another process writes the same log.
  // O_NOFOLLOW: a link in the log's place is refused, not written through.
  int fd = open(mapPath(toUtf8(path)).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                0666);
  if (fd < 0) return kInvalidFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kInvalidFile;
  }
  return new NativeFile{fd};
}

bool NativePlatform::appendFile(FileHandle file, const void *data, size_t size) {
  if (file == kInvalidFile) return false;
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(asFile(file)->fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool NativePlatform::readWholeFile(FileHandle file, std::string &out) {
  out.clear();
  if (file == kInvalidFile) return false;
  char buffer[65536];
  off_t offset = 0;
  while (true) {
    ssize_t n = pread(asFile(file)->fd, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

ReadResult NativePlatform::readExistingFile(const std::wstring &path, std::string &out,
                                            size_t maxBytes) {
  out.clear();
  int fd = open(mapPath(toUtf8(path)).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ReadResult::kCannotOpen;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadResult::kCannotOpen;
  }
  ReadResult result = ReadResult::kOk;
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
    result = ReadResult::kCannotRead;
  } else {
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = read(fd, &out[done], out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != out.size()) result = ReadResult::kCannotRead;
  }
  ::close(fd);
  if (result != ReadResult::kOk) out.clear();
  return result;
}

bool NativePlatform::closeFile(FileHandle file) {
  if (file == kInvalidFile) return false;
  NativeFile *f = asFile(file);
  int rc = ::close(f->fd);
  delete f;
  return rc == 0;
}

bool NativePlatform::renameFile(const std::wstring &from, const std::wstring &to) {
  // MoveFileW never replaces an existing file; neither does this.
  const std::string source = mapPath(toUtf8(from));
  const std::string target = mapPath(toUtf8(to));
  struct stat st;
  if (lstat(target.c_str(), &st) == 0) return false;
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE: a hard link fails on an existing target.
  if (link(source.c_str(), target.c_str()) == 0) return unlink(source.c_str()) == 0;
  if (errno == EEXIST) return false;
  return lstat(target.c_str(), &st) != 0 && rename(source.c_str(), target.c_str()) == 0;
}

bool NativePlatform::deleteFile(const std::wstring &path) {
  return unlink(mapPath(toUtf8(path)).c_str()) == 0;
}

std::vector<std::wstring> NativePlatform::findFiles(const std::wstring &folder,
                                                    const std::wstring &pattern) {
  std::vector<std::wstring> names;
  std::string dirPath = folder.empty() ? std::string(".") : mapPath(toUtf8(folder));
  DIR *dir = opendir(dirPath.c_str());
  if (!dir) return names;
  if (dirPath.back() != '/') dirPath.push_back('/');
  while (struct dirent *entry = readdir(dir)) {
    bool regular = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st;
      regular = stat((dirPath + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
    if (!regular) continue;
    std::wstring name = fromUtf8(entry->d_name);
    if (matchesPattern(name, pattern)) names.push_back(name);
  }
  closedir(dir);
  return names;
}

FILE *NativePlatform::openStream(const char *path, const char *mode) {
  if (!path || !mode) return nullptr;
  const std::string m = mode;
  if (m.find_first_of("wa+") == std::string::npos) return fopen(mapPath(path).c_str(), mode);
  // A mode that writes: opened without following a link at the path, then given to the runtime.
  int flags = O_CLOEXEC | O_NOFOLLOW | O_CREAT;
  flags |= m.find('+') != std::string::npos ? O_RDWR : O_WRONLY;
  if (m[0] == 'w') flags |= O_TRUNC;
  if (m[0] == 'a') flags |= O_APPEND;
  if (m[0] == 'r') flags &= ~O_CREAT;
  int fd = open(mapPath(path).c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  // A file, or a device such as /dev/null; never a folder or anything else.
  const bool usable = fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode));
  FILE *f = usable ? fdopen(fd, mode) : nullptr;
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

FolderTrust NativePlatform::secureFolder(const std::wstring &path, bool create) {
  const std::string folder = mapPath(toUtf8(path));
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT || !create)
      return errno == ENOENT ? FolderTrust::kMissing : FolderTrust::kUnknown;
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return FolderTrust::kMissing;
    if (lstat(folder.c_str(), &st) != 0) return FolderTrust::kMissing;
  }
  if (S_ISLNK(st.st_mode)) return FolderTrust::kLink;
  if (!S_ISDIR(st.st_mode)) return FolderTrust::kNotFolder;
  // The system's account or the one this process runs as.
  if (st.st_uid != 0 && st.st_uid != geteuid()) return FolderTrust::kForeignOwner;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return FolderTrust::kOpenToOthers;
  return FolderTrust::kTrusted;
}

std::string NativePlatform::nativePath(const std::string &path) { return mapPath(path); }

std::wstring NativePlatform::nativePath(const std::wstring &path) {
  return fromUtf8(mapPath(toUtf8(path)));
}

bool NativePlatform::sameFile(const std::wstring &a, const std::wstring &b) {
  struct stat sa, sb;
  if (stat(mapPath(toUtf8(a)).c_str(), &sa) != 0 || stat(mapPath(toUtf8(b)).c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// --- environment ---

std::wstring NativePlatform::expandEnvironment(const std::wstring &text) { return expand(text); }

std::wstring NativePlatform::tempFileName(const std::wstring &folder, const std::wstring &prefix,
                                          unsigned unique) {
  // As GetTempFileNameW forms it: folder, a separator when it lacks one, at most three
  // characters of the prefix, the unique number (its low 16 bits) in hexadecimal, ".TMP".
  std::wstring base = folder;
  const bool slashes =
      base.find(L'/') != std::wstring::npos && base.find(L'\\') == std::wstring::npos;
  if (base.empty() || (base.back() != L'\\' && base.back() != L'/'))
    base.push_back(slashes ? L'/' : L'\\');
  base += prefix.substr(0, 3);
  auto form = [&](unsigned number) {
    char hex[16];  // room for any unsigned, so the optimiser sees no truncation
    snprintf(hex, sizeof hex, "%X", number & 0xFFFFu);
    return base + fromUtf8(hex) + L".TMP";
  };
  unique &= 0xFFFF;
  if (unique != 0) return form(unique);
  // The system chooses: start from the clock and take the first name that can be created.
  const unsigned start =
      static_cast<unsigned>((monotonicMs() ^ static_cast<uint64_t>(getpid())) & 0xFFFF);
  unsigned number = start ? start : 1;
  for (unsigned tries = 0; tries < 0xFFFF; ++tries) {
    std::wstring name = form(number);
    int fd = open(mapPath(toUtf8(name)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return std::wstring();
    number = (number & 0xFFFF) == 0xFFFF ? 1 : number + 1;
  }
  return std::wstring();
}

// --- process ---

bool NativePlatform::commandLine(std::wstring &out) {
  std::vector<std::wstring> args;
  if (!commandLineArguments(args)) return false;
  out = joinCommandLine(args);
  return true;
}

bool NativePlatform::commandLineArguments(std::vector<std::wstring> &out) {
  bool ok = false;
  const std::string raw = readTextFile("/proc/self/cmdline", 1 << 24, ok);
  if (!ok || raw.empty()) return false;
  out.clear();
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    out.push_back(fromAnsi(raw.substr(start, end - start)));
    start = end + 1;
  }
  return true;
}

std::wstring NativePlatform::modulePath() {
  Dl_info info;
  struct link_map *map = nullptr;
  if (dladdr1(&kModuleAnchor, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) == 0 ||
      !map || !map->l_name || map->l_name[0] == '\0') {
    return executablePath();  // linked into the program itself
  }
  char resolved[PATH_MAX];
  if (realpath(map->l_name, resolved)) return fromAnsi(resolved);
  return fromAnsi(map->l_name);
}

std::wstring NativePlatform::executablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::wstring();
  return fromAnsi(std::string(buffer, static_cast<size_t>(n)));
}

std::wstring NativePlatform::currentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
  return fromAnsi(buffer.data());
}

bool NativePlatform::fileVersion(const std::wstring &path, FileVersion &out) {
  // Linux files carry no version resource. The simulated host keeps a file's version in a text
  // file beside it, "<file>.version", holding "major.minor.build.revision"; the build writes one
  // beside each of its programs and libraries (tal_version_file in Platform/CMakeLists.txt).
  const std::string file = mapPath(toUtf8(path));
  struct stat st;
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  bool ok = false;
  const std::string text = readTextFile(file + ".version", 256, ok);
  return ok && parseVersion(text, out);
}

// --- text conversion: the ANSI code page of the simulated host is UTF-8 ---

std::string NativePlatform::toAnsi(const std::wstring &text) { return toUtf8(text); }
std::wstring NativePlatform::fromAnsi(const std::string &text) { return fromUtf8(text); }

std::wstring NativePlatform::fromCodePage932(const std::string &bytes) {
  // One converter for the library, opened on first use and closed when the library goes; each
  // call starts from its initial state.
  static const struct Converter {
    iconv_t cd = iconv_open("WCHAR_T", "CP932");
    ~Converter() {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  } holder;
  const iconv_t converter = holder.cd;
  if (bytes.empty()) return std::wstring();
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::wstring(1, L'\x30FB');
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::wstring out;
  std::vector<char> input(bytes.begin(), bytes.end());
  char *in = input.data();
  size_t inLeft = input.size();
  wchar_t buffer[256];
  while (inLeft > 0) {
    char *dst = reinterpret_cast<char *>(buffer);
    size_t dstLeft = sizeof buffer;
    size_t rc = iconv(converter, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(reinterpret_cast<wchar_t *>(dst) - buffer));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      // A sequence the code page does not define (or cut short): its default character, and
      // the conversion goes on after the lead byte and its trail byte as Windows does.
      out.push_back(L'\x30FB');
      const unsigned char lead = static_cast<unsigned char>(*in);
      const size_t skip = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
      const size_t n = skip < inLeft ? skip : inLeft;
      in += n;
      inLeft -= n;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// --- time ---

std::wstring NativePlatform::localTimeText() { return formatTime("%H:%M:%S"); }

// The C locale's short date (what strftime's "%x" gives there).
std::wstring NativePlatform::localShortDateText() { return formatTime("%m/%d/%y"); }

int64_t NativePlatform::wallClockSeconds() { return static_cast<int64_t>(time(nullptr)); }

bool NativePlatform::calendarTime(int64_t seconds, bool local, std::tm &out) {
  const time_t when = static_cast<time_t>(seconds);
  return (local ? localtime_r(&when, &out) : gmtime_r(&when, &out)) != nullptr;
}

void NativePlatform::sleepMs(uint32_t ms) {
  struct timespec wait = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  struct timespec left;
  while (nanosleep(&wait, &left) != 0 && errno == EINTR) wait = left;
}

uint64_t NativePlatform::monotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// The thread's timer slack (by default 50 us, by which the kernel may defer a wake-up to merge it
// with others) is set to its minimum while precise sleeps are on, and restored after.
void NativePlatform::beginPreciseSleeps() {
  if (preciseDepth_++ > 0) return;
  const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  savedTimerSlack_ = slack > 0 ? slack : 0;
  if (savedTimerSlack_ > 0) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}
void NativePlatform::endPreciseSleeps() {
  if (preciseDepth_ == 0 || --preciseDepth_ > 0) return;
  if (savedTimerSlack_ > 0) {
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(savedTimerSlack_), 0, 0, 0);
  }
}

// --- console: a Linux program's standard streams are its terminal already ---

void NativePlatform::attachConsole(int) {}

// --- the channel library ---

bool NativePlatform::channelLibraryPresent() { return channel_->load(); }

ChannelLibrarySearch NativePlatform::channelLibrarySearch() { return channel_->search(); }

ChannelLibrary &NativePlatform::channelLibrary() { return detail::recordedChannel(*channel_); }

ChannelCapture NativePlatform::channelCapture() { return detail::captureState(); }

}  // namespace native

namespace detail {

std::wstring captureVariable() {
  const char *path = getenv("TAL_CHANNEL_RECORD");
  return path && *path ? builtinPlatform().fromAnsi(path) : std::wstring();
}

FILE *openCaptureFile(const std::wstring &path, std::string &error) {
  const std::string mapped = native::mapPath(toUtf8(path));
  // A link in the file's place is not followed: the capture never lands where a link leads.
  const int fd = open(mapped.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = std::string("cannot write ") + mapped + ": " + strerror(errno);
    return nullptr;
  }
  FILE *out = fdopen(fd, "w");
  if (!out) {
    error = std::string("cannot write ") + mapped + ": " + strerror(errno);
    ::close(fd);
  }
  return out;
}

}  // namespace detail

namespace native {}  // namespace native
}  // namespace tal::os
