// The progress file of an Install that flashes (progress.h).
#include "progress.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cmplog.h"
#include "device.h"
#include "log.h"
#include "tal/platform.h"

const wchar_t *const kProgressFolder = L"%systemdrive%\\talsystem\\log\\";
const wchar_t *const kProgressName = L"talprogress.log";

namespace {

using Json = nlohmann::ordered_json;
using tal::os::sys;

struct Run {
  bool active = false;  // a run is being written (or was, until a write failed)
  tal::os::FileHandle file = tal::os::kInvalidFile;
  std::string path;  // for the engine log
  uint64_t startMs = 0;
  // The device being updated.
  bool deviceOpen = false;
  bool deviceWritten = false;
  Json device;
  int index = 0;
  uint32_t total = 0;
  int percent = -1;
};

Run g_run;

uint64_t elapsedMs() {
  const uint64_t now = sys().monotonicMs();
  return now > g_run.startMs ? now - g_run.startMs : 0;
}

void closeFile() {
  if (g_run.file != tal::os::kInvalidFile) sys().closeFile(g_run.file);
  g_run.file = tal::os::kInvalidFile;
}

// Said once a run in the engine log; the run goes on without the file.
void giveUp(const char *why) {
  logMessage(LOG_VERBOSE, "Progress file %s not written: %s; the update goes on without it\n",
             g_run.path.c_str(), why);
  closeFile();
}

// One whole line, with one append.
void writeLine(const char *line, size_t length) {
  if (g_run.file == tal::os::kInvalidFile) return;
  if (!sys().appendFile(g_run.file, line, length)) giveUp("a write failed");
}

void writeJson(Json line) {
  if (g_run.file == tal::os::kInvalidFile) return;
  // Texts from the devices are outside data: bytes that are not UTF-8 become U+FFFD.
  std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\r\n";
  writeLine(text.data(), text.size());
}

Json event(const char *name) { return Json{{"v", 1}, {"event", name}, {"ms", elapsedMs()}}; }

void writeDevice() {
  if (g_run.deviceWritten) return;
  g_run.deviceWritten = true;
  Json line = event("device");
  line.update(g_run.device);
  line["total"] = g_run.total;
  writeJson(std::move(line));
}

std::wstring progressFolder() { return sys().expandEnvironment(kProgressFolder); }

}  // namespace

void progressRunStart(int devices) {
  resetProgress();
  const std::wstring folder = progressFolder();
  const std::wstring path = folder + kProgressName;
  // The folder the component log vetted (and made): one an ordinary user could redirect or write
  // in gets no file.
  if (!SecureFolderTree(folder.c_str(), true)) return;
  g_run.active = true;
  g_run.path = sys().toAnsi(path);
  g_run.startMs = sys().monotonicMs();
  // Emptied first (a link in the file's place is not followed), then held open for appending,
  // shared for reading.
  errno = 0;
  FILE *f = sys().openStream(g_run.path.c_str(), "wb");
  if (!f) {
    giveUp(errno ? std::strerror(errno) : "it could not be created");
    return;
  }
  std::fclose(f);
  g_run.file = sys().openShared(path);
  if (g_run.file == tal::os::kInvalidFile) {
    giveUp("it could not be opened");
    return;
  }
  Json line = event("start");
  line["ms"] = 0;
  line["devices"] = devices;
  writeJson(std::move(line));
}

void progressRunPending() {
  resetProgress();
  const std::wstring folder = progressFolder();
  const std::wstring path = folder + kProgressName;
  if (!SecureFolderTree(folder.c_str(), false) || !sys().isRegularFile(path)) return;
  if (FILE *f = sys().openStream(sys().toAnsi(path).c_str(), "wb")) std::fclose(f);
}

void progressRunNone() {
  resetProgress();
  const std::wstring folder = progressFolder();
  const std::wstring path = folder + kProgressName;
  if (!SecureFolderTree(folder.c_str(), false) || !sys().isRegularFile(path)) return;
  if (sys().deleteFile(path)) return;
  // Held open by a reader that does not share deletion: emptied instead.
  if (FILE *f = sys().openStream(sys().toAnsi(path).c_str(), "wb")) std::fclose(f);
}

void progressDeviceStart(int index, int count, const DeviceObj &device) {
  if (!g_run.active) return;
  g_run.deviceOpen = true;
  g_run.deviceWritten = false;
  g_run.index = index;
  g_run.total = 0;
  g_run.percent = -1;
  const bool card = device.getType() == DEVICE_VELTO_E;
  g_run.device = Json{{"index", index},
                      {"count", count},
                      {"name", device.getObjectName() + ": " + device.getProductName()},
                      {"kind", card ? "card" : "backplane"},
                      {"found", device.getVersion()},
                      {"offered", device.getPackageVersion()},
                      {"unit", card ? "blocks" : "pages"}};
}

void progressTotal(uint32_t total) {
  if (!g_run.active || !g_run.deviceOpen || g_run.deviceWritten) return;
  g_run.total = total;
  writeDevice();
  progressAdvance(0);
}

void progressAdvance(uint32_t done) {
  if (!g_run.active || !g_run.deviceWritten || g_run.file == tal::os::kInvalidFile) return;
  const uint32_t total = g_run.total;
  if (done > total) done = total;
  const int percent = total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total);
  if (percent == g_run.percent) return;
  g_run.percent = percent;
  char line[160];
  const int n =
      std::snprintf(line, sizeof line,
                    "{\"v\":1,\"event\":\"progress\",\"ms\":%" PRIu64
                    ",\"index\":%d,\"done\":%" PRIu32 ",\"total\":%" PRIu32 ",\"percent\":%d}\r\n",
                    elapsedMs(), g_run.index, done, total, percent);
  if (n > 0 && static_cast<size_t>(n) < sizeof line) writeLine(line, static_cast<size_t>(n));
}

void progressDeviceEnd(const char *result, const std::string &text) {
  if (!g_run.active || !g_run.deviceOpen) return;
  writeDevice();
  Json line = event("end");
  line["index"] = g_run.index;
  line["result"] = result;
  line["text"] = text;
  writeJson(std::move(line));
  g_run.deviceOpen = false;
}

void progressRunFinish(int result, int updated, int failed) {
  if (!g_run.active) return;
  Json line = event("finish");
  line["result"] = result;
  line["updated"] = updated;
  line["failed"] = failed;
  writeJson(std::move(line));
  resetProgress();
}

void resetProgress() {
  closeFile();
  g_run = Run();
}
