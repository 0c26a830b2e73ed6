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
#include "state.h"
#include "tal/platform.h"

const wchar_t *const kProgressFolder = L"%systemdrive%\\talsystem\\log\\";
const wchar_t *const kProgressName = L"talprogress.log";

namespace {

using Json = nlohmann::ordered_json;
using tal::os::sys;

ProgressState &run() { return engineState().progress; }

uint64_t elapsedMs() {
  const uint64_t now = sys().monotonicMs();
  return now > run().startMs ? now - run().startMs : 0;
}

void closeFile() {
  if (run().file != tal::os::kInvalidFile) sys().closeFile(run().file);
  run().file = tal::os::kInvalidFile;
}

// Said once a run in the engine log; the run goes on without the file.
void giveUp(const char *why) {
  logMessage(LOG_VERBOSE, "Progress file %s not written: %s; the update goes on without it\n",
             run().path.c_str(), why);
  closeFile();
}

// One whole line, with one append.
void writeLine(const char *line, size_t length) {
  if (run().file == tal::os::kInvalidFile) return;
  if (!sys().appendFile(run().file, line, length)) giveUp("a write failed");
}

void writeJson(Json line) {
  if (run().file == tal::os::kInvalidFile) return;
  // Texts from the devices are outside data: bytes that are not UTF-8 become U+FFFD.
  std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\r\n";
  writeLine(text.data(), text.size());
}

Json event(const char *name) { return Json{{"v", 1}, {"event", name}, {"ms", elapsedMs()}}; }

void writeDevice() {
  if (run().deviceWritten) return;
  run().deviceWritten = true;
  Json line = event("device");
  const ProgressState &r = run();
  line["index"] = r.index;
  line["count"] = r.count;
  line["name"] = r.name;
  line["kind"] = r.card ? "card" : "backplane";
  line["found"] = r.found;
  line["offered"] = r.offered;
  line["unit"] = r.card ? "blocks" : "pages";
  line["total"] = run().total;
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
  run().active = true;
  run().path = sys().toAnsi(path);
  run().startMs = sys().monotonicMs();
  // Emptied first (a link in the file's place is not followed), then held open for appending,
  // shared for reading.
  errno = 0;
  FILE *f = sys().openStream(run().path.c_str(), "wb");
  if (!f) {
    giveUp(errno ? std::strerror(errno) : "it could not be created");
    return;
  }
  std::fclose(f);
  run().file = sys().openShared(path);
  if (run().file == tal::os::kInvalidFile) {
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
  if (!run().active) return;
  run().deviceOpen = true;
  run().deviceWritten = false;
  run().index = index;
  run().total = 0;
  run().percent = -1;
  run().count = count;
  run().card = device.getType() == DEVICE_VELTO_E;
  run().name = device.getObjectName() + ": " + device.getProductName();
  run().found = device.getVersion();
  run().offered = device.getPackageVersion();
}

void progressTotal(uint32_t total) {
  if (!run().active || !run().deviceOpen || run().deviceWritten) return;
  run().total = total;
  writeDevice();
  progressAdvance(0);
}

void progressAdvance(uint32_t done) {
  if (!run().active || !run().deviceWritten || run().file == tal::os::kInvalidFile) return;
  const uint32_t total = run().total;
  if (done > total) done = total;
  const int percent = total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total);
  if (percent == run().percent) return;
  run().percent = percent;
  char line[160];
  const int n =
      std::snprintf(line, sizeof line,
                    "{\"v\":1,\"event\":\"progress\",\"ms\":%" PRIu64
                    ",\"index\":%d,\"done\":%" PRIu32 ",\"total\":%" PRIu32 ",\"percent\":%d}\r\n",
                    elapsedMs(), run().index, done, total, percent);
  if (n > 0 && static_cast<size_t>(n) < sizeof line) writeLine(line, static_cast<size_t>(n));
}

void progressDeviceEnd(const char *result, const std::string &text) {
  if (!run().active || !run().deviceOpen) return;
  writeDevice();
  Json line = event("end");
  line["index"] = run().index;
  line["result"] = result;
  line["text"] = text;
  writeJson(std::move(line));
  run().deviceOpen = false;
}

void progressRunFinish(int result, int updated, int failed) {
  if (!run().active) return;
  Json line = event("finish");
  line["result"] = result;
  line["updated"] = updated;
  line["failed"] = failed;
  writeJson(std::move(line));
  resetProgress();
}

void resetProgress() {
  closeFile();
  run() = ProgressState{};
}
