// The flash engine's log function. Every engine message goes through logMessage, whose flags choose
// the destinations: the component log (the CCmpLog handed over before each property query), the
// engine's own verbose log file and the self-discovery report file. Nothing stays open between
// calls: each destination is opened, written and closed per message.
#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>

#include "cmplog.h"
#include "state.h"
#include "tal/platform.h"

const char *const kEngineLogPath = "\\talsystem\\log\\Verbose.log";

namespace {
const char kEngineLogFolder[] = "\\talsystem\\log\\";
}  // namespace

namespace {

LogState &logState() { return engineState().log; }

// The whole formatted message. Text of any length is kept: a message is never cut short.
std::string formatMessage(const char *format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(&out[0], out.size(), format, copy);
  va_end(copy);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Byte-by-byte multibyte conversion as the C runtime does it for the current locale. A byte that
// does not start a valid sequence is taken as the character of the same value, so that no text is
// dropped.
std::wstring toWide(const std::string &text) {
  std::wstring out;
  out.reserve(text.size());
  std::mbstate_t state{};
  const char *p = text.data();
  size_t left = text.size();
  while (left > 0) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, p, left, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
      state = std::mbstate_t{};
      used = 1;
    } else if (used == 0) {
      out.push_back(L'\0');
      used = 1;
    } else {
      out.push_back(wc);
    }
    p += used;
    left -= used;
  }
  return out;
}

void toComponentLog(LogTarget target, int line, const std::string &text) {
  std::wstring wide = toWide(text);
  // The text is an argument, never the format: a '%' in it reaches the log unchanged.
  logState().componentLog->Write(target, LS_NONE, L"log.cpp", line, L"%ls", wide.c_str());
}

void openFailureNotice(bool &shown, const char *path, int error) {
  if (shown) return;
  shown = true;
  std::printf("Failed to open log file %s : %s\n", path, std::strerror(error));
  std::fflush(stdout);
}

// Whether the engine log's folder may be written in: it is not made here, and one an ordinary user
// made, owns or replaced with a link receives nothing. A folder found trustworthy stays so (no
// ordinary user can replace it), so each folder is checked once an engine state.
bool engineLogFolderTrusted() {
  std::string &trusted = logState().trustedFolder;
  const std::string folder = tal::os::sys().nativePath(std::string(kEngineLogFolder));
  if (folder == trusted) return true;
  const std::wstring wide(kEngineLogFolder, kEngineLogFolder + std::strlen(kEngineLogFolder));
  if (!SecureFolderTree(wide.c_str(), false)) return false;
  trusted = folder;
  return true;
}

void toEngineLogFile(uint32_t flags, const std::string &text) {
  if (!engineLogFolderTrusted()) {
    openFailureNotice(logState().engineLogNoticeShown, kEngineLogPath, EACCES);
    return;
  }
  // Binary append: the message's bytes as they are. Messages carry their own line ends ("\n" or
  // "\r\n"); a text stream on Windows would write "\r\n" as "\r\r\n". A link in the log's
  // place is not written through.
  FILE *f = tal::os::sys().openStream(kEngineLogPath, "ab");
  if (!f) {
    openFailureNotice(logState().engineLogNoticeShown, kEngineLogPath, errno);
    return;
  }
  if (!(flags & LOG_NOTIME)) {
    char stamp[32];
    tal::os::Platform &os = tal::os::sys();
    std::tm utc;
    const size_t n = os.calendarTime(os.wallClockSeconds(), false, utc)
                         ? std::strftime(stamp, sizeof stamp, "[%Y-%m-%dT%H:%M:%SZ] ", &utc)
                         : 0;
    std::fwrite(stamp, 1, n, f);
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void toReportFile(const std::string &text) {
  FILE *f = tal::os::sys().openStream(logState().reportFile, "a+");
  if (!f) {
    openFailureNotice(logState().reportNoticeShown, logState().reportFile, errno);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

}  // namespace

void logMessage(uint32_t flags, const char *format, ...) {
  const bool cmpVerbose = (flags & (LOG_CMP_VERBOSE | LOG_ALL)) && logState().componentLog;
  const bool cmpMain = (flags & (LOG_CMP | LOG_ALL)) && logState().componentLog;
  const bool engineFile = (flags & (LOG_VERBOSE | LOG_ALL)) != 0;
  const bool level1 = (flags & LOG_LEVEL1) && logState().level == 1;
  const bool report = (flags & LOG_REPORT) != 0;
  // Nothing to write: return before formatting (the I2C traces call this on every transaction).
  if (!(cmpVerbose || cmpMain || engineFile || level1 || report) || !format) return;

  va_list args;
  va_start(args, format);
  const std::string text = formatMessage(format, args);
  va_end(args);

  if (cmpVerbose) toComponentLog(LT_VERBOSE, __LINE__, text);
  if (cmpMain) toComponentLog(LT_MAIN, __LINE__, text);
  if (engineFile) toEngineLogFile(flags, text);
  if (level1) toEngineLogFile(flags, text);
  if (report) toReportFile(text);
}

const char *timeStamp() {
  tal::os::Platform &os = tal::os::sys();
  std::tm local;
  if (!os.calendarTime(os.wallClockSeconds(), true, local) ||
      std::strftime(logState().timeStamp, sizeof logState().timeStamp, "%d %b %Y - %X", &local) ==
          0) {
    logState().timeStamp[0] = '\0';
  }
  return logState().timeStamp;
}

void setLogLevel(int level) { logState().level = level; }
int getLogLevel() { return logState().level; }

void setReportFile(const char *path) {
  // A name that does not fit is refused whole (the setting becomes empty, so the report is not
  // written): a shortened name would send the report to another file.
  if (!path || std::strlen(path) > LogState::kReportPathMax) {
    logState().reportFile[0] = '\0';
    return;
  }
  std::memcpy(logState().reportFile, path, std::strlen(path) + 1);
}

std::string getReportFile() { return logState().reportFile; }

bool writeReportFile(const std::string &text, std::string *error) {
  // Text mode, as the report's lines were always written; "w" replaces an earlier report whole.
  errno = 0;
  FILE *f = tal::os::sys().openStream(logState().reportFile, "w");
  if (!f) {
    const int openErrno = errno ? errno : EIO;
    openFailureNotice(logState().reportNoticeShown, logState().reportFile, openErrno);
    if (error) *error = std::strerror(openErrno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return true;
  if (error) *error = std::strerror(writeErrno ? writeErrno : errno ? errno : EIO);
  return false;
}

void setEngineLog(CCmpLog *log) { logState().componentLog = log; }
CCmpLog *getEngineLog() { return logState().componentLog; }
