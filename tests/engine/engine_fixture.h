// Shared pieces of the engine tests: the simulated server (server_fixture.h) with a package
// writer and devices put straight into the list, and a component log that records what the
// engine writes to it.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

#include "cmplog.h"
#include "configinfo.h"
#include "device.h"
#include "server_fixture.h"
#include "state.h"

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

class EngineTest : public testserver::ServerTest {
 protected:
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
    deviceList().push_back(d);
    return d;
  }
};

using testserver::countOf;

}  // namespace enginetest
