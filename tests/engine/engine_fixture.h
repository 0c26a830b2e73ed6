// Shared pieces of the engine tests: a fixture with the fake platform and a scratch folder (the
// engine log lands in <scratch>/talsystem/log/Verbose.log), a component log that records what
// the engine writes to it, a channel library answering the management processor's status query,
// and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "channel/smif.h"
#include "channel/transport.h"
#include "cmplog.h"
#include "configinfo.h"
#include "device.h"
#include "engine.h"
#include "engine_log.h"
#include "fake_platform.h"
#include "log.h"

namespace enginetest {

// A component log that keeps every Write instead of writing files.
class RecordingLog final : public CCmpLog {
 public:
  struct Entry {
    int target;
    int severity;
    std::wstring format;
    std::wstring text;
  };
  void *DeletingDestructor(unsigned flags) override {
    this->~RecordingLog();
    if (flags & 1) ::operator delete(this);
    return this;
  }
  void Write(LogTarget target, LogSeverity severity, const wchar_t *source, int32_t line,
             const wchar_t *format, ...) override {
    std::vector<wchar_t> buf(8192);
    va_list args;
    va_start(args, format);
    std::vswprintf(buf.data(), buf.size(), format, args);
    va_end(args);
    entries.push_back({target, severity, format, buf.data()});
  }
  std::vector<Entry> entries;
};

// The channel library as the management processor answers the status query: generation, major
// and minor version as set; every other command is answered with an error code.
class OstStatusLibrary : public tal::os::ChannelLibrary {
 public:
  uint8_t generation = 4, major = 2, minor = 20;
  bool initFails = false;
  int statusQueries = 0;

  uint32_t initialize(uintptr_t) override { return initFails ? 5 : 0; }
  uint32_t create(uintptr_t, void **handle, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                  void *) override {
    *handle = this;
    return 0;
  }
  uint32_t send(void *, void *packet, uint32_t length, uint32_t *status, uintptr_t) override {
    last_.assign(static_cast<uint8_t *>(packet), static_cast<uint8_t *>(packet) + length);
    *status = 0;
    return 0;
  }
  uint32_t recv(void *, void *buffer, uint32_t capacity, uint32_t *status, uint32_t *) override {
    uint8_t rsp[100] = {};
    const uint16_t cmd = getU16(last_.data(), 4);
    putU16(rsp, 0, sizeof rsp);
    putU16(rsp, 2, getU16(last_.data(), 2));
    putU16(rsp, 4, cmd);
    if (cmd == SMIFCMD_GET_STATUS) {
      ++statusQueries;
      rsp[16] = minor;
      rsp[17] = major;
      rsp[71] = generation;
    } else {
      putU32(rsp, 8, 1);
    }
    const uint32_t n = capacity < sizeof rsp ? capacity : sizeof rsp;
    std::memcpy(buffer, rsp, n);
    *status = 0;
    return n;
  }
  uint32_t close(void *) override { return 0; }
  const char *statusMessage(uint32_t) override { return "status"; }

 private:
  std::vector<uint8_t> last_{0, 0, 0, 0, 0, 0, 0, 0};
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    std::filesystem::create_directories(logDir());
    std::filesystem::remove(logDir() + "/Verbose.log");
  }
  void TearDown() override {
    resetEngine();
    g_smifSeq = 0;
  }
  // The engine log folder: the root of the current drive, which the platform maps to the scratch
  // folder natively (SYSTEMDRIVE); on Windows it is the real root of the current drive.
  std::string logDir() const { return testlog::engineLogDir(scratch); }
  // A report file as written (text mode), and the engine log as written (its bytes).
  static std::string readText(const std::string &path) { return testlog::readReportFile(path); }
  std::string engineLog() const { return testlog::readEngineFile(logDir() + "/Verbose.log"); }
  // The engine log without its time stamps.
  std::string engineLogText() const {
    std::string log = engineLog(), out;
    for (size_t i = 0; i < log.size();) {
      if (log.compare(i, 1, "[") == 0 && i + 23 <= log.size() &&
          log.compare(i + 20, 3, "Z] ") == 0) {
        i += 23;
        continue;
      }
      size_t eol = log.find('\n', i);
      size_t end = eol == std::string::npos ? log.size() : eol + 1;
      out.append(log, i, end - i);
      i = end;
    }
    return out;
  }
  bool logHas(const std::string &text) const {
    return engineLogText().find(text) != std::string::npos;
  }
  void args(std::vector<std::wstring> a) {
    a.insert(a.begin(), L"talhost.exe");
    fake.args = a;
  }
  // Config.xml and a package file kzpkg.xml in the current directory (the scratch folder).
  void writePackage(const std::string &devices, const std::string &keys,
                    const std::string &version = "2.20") {
    tal::os::ScratchDir::write(
        scratch.file("Config.xml"),
        "<Devices>" + devices + "<kzxml><name>kzpkg</name></kzxml></Devices>");
    tal::os::ScratchDir::write(scratch.file("kzpkg.xml"),
                               "<tal_package><version value=\"" + version +
                                   "\"/><sw_keys><sw_keys_and>" + keys +
                                   "</sw_keys_and></sw_keys></tal_package>");
  }
  static std::string device(const std::string &type, const std::string &name,
                            const std::string &file, const std::string &version) {
    return "<Device><Type>" + type + "</Type><Name>" + name + "</Name><File>" + file +
           "</File><Version>" + version + "</Version></Device>";
  }
  static std::string key(const std::string &name) { return "<sw_key name=\"" + name + "\"/>"; }
  // A device put straight into the list, as discovery would leave it.
  static DeviceObj *listed(int type, const std::string &product, const std::string &version,
                           int updateState) {
    DeviceObj *d = type == DEVICE_VELTO_I ? static_cast<DeviceObj *>(new VltiObj)
                                          : static_cast<DeviceObj *>(new VlteObj);
    d->setType(type);
    d->setObjectName(type == DEVICE_VELTO_I ? "Backplane 1" : "Controller card 1");
    d->setProductName(product);
    d->setVersion(version);
    d->setUpdateState(updateState);
    g_deviceList.push_back(d);
    return d;
  }

  tal::os::FakePlatform fake;
  tal::os::ScratchDir scratch;
};

inline size_t countOf(const std::string &haystack, const std::string &needle) {
  size_t n = 0;
  for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
    ++n;
  return n;
}

}  // namespace enginetest
