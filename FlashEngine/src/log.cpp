// Placeholder until the engine log lands: remembers its settings, writes nothing.
#include "log.h"

const char *const kEngineLogPath = "\\talsystem\\log\\Verbose.log";
namespace {
CCmpLog *g_log = nullptr;
int g_level = 0;
std::string g_report;
}  // namespace
void logMessage(uint32_t, const char *, ...) {}
const char *timeStamp() { return ""; }
void setLogLevel(int level) { g_level = level; }
int getLogLevel() { return g_level; }
void setReportFile(const char *path) { g_report = path ? path : ""; }
std::string getReportFile() { return g_report; }
void setEngineLog(CCmpLog *log) { g_log = log; }
CCmpLog *getEngineLog() { return g_log; }
void resetEngineLog() { g_log = nullptr; g_level = 0; g_report.clear(); }
