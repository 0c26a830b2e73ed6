// The flash engine's log function and its destinations: the component log (the CCmpLog handed
// over before each property query), the engine's own verbose log file at the root of the current
// drive, and the self-discovery report file.
#pragma once

#include <cstdint>
#include <string>

class CCmpLog;

enum LogFlags : uint32_t {
  LOG_CMP = 0x01,          // component log, main file, severity 0
  LOG_VERBOSE = 0x02,      // engine log file
  LOG_ALL = 0x08,          // component main file, component verbose file and engine log file
  LOG_REPORT = 0x10,       // report file, raw text
  LOG_LEVEL1 = 0x20,       // engine log file, only while the log level is 1
  LOG_NOTIME = 0x40,       // modifier: no time stamp on engine log file lines
  LOG_CMP_VERBOSE = 0x80,  // component log, verbose file with source location, severity 0
};

// Engine log file: a path from the root of the current drive.
extern const char *const kEngineLogPath;  // "\\talsystem\\log\\Verbose.log"

#if defined(__GNUC__)
#define TAL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAL_PRINTF(fmt, args)
#endif

void logMessage(uint32_t flags, const char *format, ...) TAL_PRINTF(2, 3);

// Local time "%d %b %Y - %X" in a static buffer; each call overwrites the previous text.
const char *timeStamp();

void setLogLevel(int level);
int getLogLevel();
void setReportFile(const char *path);
std::string getReportFile();
// Writes the whole report to the report file, replacing what it held. False when the file could
// not be opened or written; *error then holds the runtime's text for the error.
bool writeReportFile(const std::string &text, std::string *error);

// The component log the engine writes to (none until the first property query).
void setEngineLog(CCmpLog *log);
CCmpLog *getEngineLog();
