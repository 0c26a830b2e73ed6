// pkgcheck: a package author's check of a package folder. It reads the folder with the plug-in's
// own readers, exactly as the plug-in will on a server (the package definition file, install.xml,
// dependency.xml, Config.xml and the firmware images), shows what the host will be told, and says
// what will go wrong there.
//
//   pkgcheck [--json] [FOLDER]        FOLDER defaults to the current folder
//
// Every finding has a stable code (PKG and three digits), listed in the README. Exit status: 0
// clean, 1 warnings only, 2 errors or bad arguments, 3 the folder cannot be entered. Nothing is
// written into the folder, nor anywhere else.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "basecomp.h"
#include "configinfo.h"
#include "cxml.h"
#include "fwheader.h"
#include "inf.h"
#include "readonly_platform.h"
#include "tal/cli.h"
#include "talxmlreader.h"
#include "veltoi.h"
#include "xmlerror.h"

using tal::os::fromUtf8;
using tal::os::sys;
using tal::os::toUtf8;

namespace {

// The base component with its fields open to the checks.
class Component : public CBaseComponent {
 public:
  using CBaseComponent::infFile;
  using CBaseComponent::infSection;
  using CBaseComponent::installType;
  using CBaseComponent::packageFileName;
  using CBaseComponent::serviceName;
  using CBaseComponent::supportedDevices;
  using CBaseComponent::supportedOS;
  using CBaseComponent::versionFilePath;
};

// One finding: its stable code (PKG and three digits; the README lists them), its severity, the
// file and the element or place in it, and what goes wrong on the server. An XML error also
// gives the parser's line and column (0: none).
struct Finding {
  std::string code;
  bool error;
  std::string file;
  std::string where;
  std::string message;
  unsigned long line = 0;
  unsigned long column = 0;
};

tal::xml::ParseError ErrorOf(const CTalXMLReader &reader) {
  tal::xml::ParseError e;
  e.line = reader.GetErrorLine();
  e.column = reader.GetErrorColumn();
  e.text = reader.GetErrorText();
  return e;
}

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

std::string Narrow(const wchar_t *text) { return text ? toUtf8(text) : std::string(); }

// Outer white space of a text as the file holds it (spaces, tabs, line ends).
std::string Trim(const std::string &text) {
  const char *blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool AllDigits(const std::wstring &text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

bool StartsWithNoCase(const std::string &text, const std::string &head) {
  if (text.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(head[i])))
      return false;
  }
  return true;
}

class Checker {
 public:
  explicit Checker(pkgcheck::ReadOnlyPlatform &platform) : platform_(platform) {}

  void Run() {
    CheckPackageDefinition();
    CheckInstallerXml();
    // A driver package is installed by the framework itself (drvinstall): no flash engine.
    if (driverPackage_)
      Show("package kind", "driver package (its INF installed by the framework)");
    else
      CheckConfig();
    CheckDependencies();
    CheckPlugin();
  }

  size_t Errors() const {
    size_t n = 0;
    for (const Finding &f : findings_) n += f.error ? 1 : 0;
    return n;
  }
  size_t Warnings() const { return findings_.size() - Errors(); }

  void PrintText(const std::string &folder) const {
    std::printf("pkgcheck: %s\n", folder.c_str());
    for (const auto &item : shown_)
      std::printf("  %s: %s\n", item.first.c_str(), item.second.c_str());
    for (const Finding &f : findings_) {
      std::printf("%s %s: %s%s%s: %s\n", f.error ? "error" : "warning", f.code.c_str(),
                  f.file.c_str(), f.where.empty() ? "" : ": ", f.where.c_str(), f.message.c_str());
    }
    std::printf("pkgcheck: %zu error%s, %zu warning%s\n", Errors(), Errors() == 1 ? "" : "s",
                Warnings(), Warnings() == 1 ? "" : "s");
  }

  void PrintJson(const std::string &folder) const {
    nlohmann::ordered_json doc;
    doc["folder"] = folder;
    doc["shown"] = nlohmann::ordered_json::array();
    for (const auto &item : shown_)
      doc["shown"].push_back({{"what", item.first}, {"value", item.second}});
    doc["findings"] = nlohmann::ordered_json::array();
    for (const Finding &f : findings_) {
      nlohmann::ordered_json item = {{"code", f.code},
                                     {"severity", f.error ? "error" : "warning"},
                                     {"file", f.file},
                                     {"where", f.where},
                                     {"message", f.message}};
      if (f.line) {
        item["line"] = f.line;
        item["column"] = f.column;
      }
      doc["findings"].push_back(item);
    }
    doc["errors"] = Errors();
    doc["warnings"] = Warnings();
    std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }

 private:
  void Error(const char *code, const std::string &file, const std::string &where,
             const std::string &message) {
    findings_.push_back({code, true, file, where, message});
  }
  void Warning(const char *code, const std::string &file, const std::string &where,
               const std::string &message) {
    findings_.push_back({code, false, file, where, message});
  }
  // A file the parser stopped in: the finding says where and why.
  void XmlFinding(const char *code, bool error, const std::string &file,
                  const tal::xml::ParseError &e, const std::string &message) {
    const std::string where =
        e.line ? "line " + std::to_string(e.line) + ", column " + std::to_string(e.column) : "";
    findings_.push_back({code, error, file, where,
                         message + (e.text.empty() ? "" : " (" + e.text + ")"), e.line, e.column});
  }
  void Show(const std::string &what, const std::string &value) { shown_.push_back({what, value}); }

  bool driverPackage_ = false;  // install.xml names a LEGACY or PNP INF

  // --- the package definition file ---

  void CheckPackageDefinition() {
    const std::vector<std::wstring> candidates = sys().findFiles(L"", L"kz*.xml");
    size_t qualifying = 0;
    for (const std::wstring &name : candidates) {
      CTalXMLReader reader;
      const int32_t rc = reader.LoadFile(name.c_str());
      if (rc != 0) {
        XmlFinding("PKG001", false, Narrow(name.c_str()), ErrorOf(reader),
                   rc == 5 ? "not well-formed XML (or in an encoding the plug-in does not read); "
                             "the plug-in skips it"
                           : "cannot be read; the plug-in skips it");
      } else if (!reader.FindChild(nullptr, L"tal_package")) {
        Warning("PKG002", Narrow(name.c_str()), "",
                "has no tal_package root element; the plug-in skips it");
      } else {
        ++qualifying;
      }
    }
    wchar_t chosen[260] = {};
    if (!component_.FindPackageDefinitionFile(chosen, 260)) {
      Error("PKG003", "kz*.xml", "",
            "no package definition file: the host's name, description and version questions "
            "fail, and no prerequisite is declared");
      return;
    }
    packageFile_ = Narrow(chosen);
    Show("package definition", packageFile_);
    if (qualifying > 1) {
      Warning("PKG004", packageFile_, "",
              "more than one kz*.xml has a tal_package root; the plug-in takes this one, the "
              "first the file system lists, which may differ on another machine");
    }
    const int32_t rc = component_.ReadPackageDefinition(chosen);
    if (rc != 0) {
      CTalXMLReader again;
      again.LoadFile(chosen);
      XmlFinding("PKG005", true, packageFile_, ErrorOf(again),
                 "cannot be read (result " + std::to_string(rc) + ")");
      return;
    }
    reader_.LoadFile(chosen);
    full_.SetTrimWhitespace(false);
    full_.Load(packageFile_);
    const CTalXMLNode *package = reader_.FindChild(nullptr, L"tal_package");

    const CTalXMLNode *fileName = package ? reader_.FindChild(package, L"filename") : nullptr;
    const CTalXMLNode *fileText = fileName ? fileName->GetFirstChild() : nullptr;
    if (fileText && fileText->GetKind() == XML_NODE_TEXT && fileText->GetTextLength() > 127) {
      Error("PKG006", packageFile_, "tal_package/filename",
            "longer than 127 characters: the plug-in does not use it (the adopted log gets no "
            "name)");
    }
    CheckTexts(package, L"name", L"name_xlate", "/tal_package/name/name_xlate", true);
    CheckTexts(package, L"description", L"description_xlate",
               "/tal_package/description/description_xlate", false);
    CheckVersion();
    CheckOperatingSystems(package);
    CheckDevices();
  }

  // Names or descriptions per language: what the host will see, and text the reader's rules
  // lose from what the file holds.
  void CheckTexts(const CTalXMLNode *package, const wchar_t *container, const wchar_t *element,
                  const std::string &path, bool isName) {
    const std::string what = isName ? "name" : "description";
    const CTalXMLNode *parent = package ? reader_.FindChild(package, container) : nullptr;
    if (!parent) {
      Error("PKG007", packageFile_, Narrow(container),
            "missing: the host's " + what + " question fails in every language");
      return;
    }
    C_XML::AttrTextPairs inFile;
    full_.FindAttrText(path, "lang", std::back_inserter(inFile));
    std::map<std::string, int> seen;
    for (const auto &entry : inFile) {
      const std::string &lang = entry.first;
      const std::string where = Narrow(element) + "[lang=" + lang + "]";
      if (lang.empty()) {
        Warning("PKG008", packageFile_, Narrow(element),
                "has no lang attribute: no host ever gets it");
        continue;
      }
      if (seen[lang]++) {
        Warning("PKG009", packageFile_, where,
                "a second entry for the same language; only one is used");
        continue;
      }
      wchar_t out[4096] = {};
      const std::wstring wideLang = fromUtf8(lang);
      const int32_t answered = isName ? component_.GetName(out, 4096, wideLang.c_str())
                                      : component_.GetDescription(out, 4096, wideLang.c_str());
      const std::string host = answered ? Narrow(out) : std::string();
      Show(what + " [" + lang + "]", answered ? Quote(host) : "(nothing)");
      const std::string held = Trim(entry.second);
      if (!answered) {
        Error("PKG010", packageFile_, where,
              isName ? "the host gets no name: the text begins with white space or is not "
                       "the element's first child"
                     : "the host gets no description: it must be a CDATA section");
      } else if (host != held) {
        Warning("PKG011", packageFile_, where,
                "the host sees " + Quote(host) + " but the file holds " + Quote(held) +
                    " (the reader drops a line break and what follows it when indented, a blank "
                    "after a reference, and text after a child element or CDATA section)");
      }
    }
    if (!seen.count("en") && !seen.empty()) {
      Warning("PKG012", packageFile_, Narrow(container),
              "no \"en\" entry: hosts in other languages get no " + what);
    }
    if (seen.empty()) {
      Error("PKG013", packageFile_, Narrow(container),
            "no " + Narrow(element) + " entry: the host's " + what + " question fails");
    }
  }

  void CheckVersion() {
    wchar_t out[256] = {};
    if (!component_.GetPackageVersion(out, 256)) {
      Error("PKG014", packageFile_, "tal_package/version",
            "no version value: the host gets no package version and every installed version "
            "compares as older");
      return;
    }
    const std::wstring text = out;
    Show("version", Narrow(out));
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (true) {
      const size_t dot = text.find(L'.', start);
      parts.push_back(
          text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
      if (dot == std::wstring::npos) break;
      start = dot + 1;
    }
    bool good = parts.size() <= 4;
    for (const std::wstring &part : parts) {
      good = good && AllDigits(part) && part.size() <= 5 && std::stoul(part) <= 65535;
    }
    if (!good) {
      Error("PKG015", packageFile_, "tal_package/version",
            "\"" + Narrow(out) +
                "\" is not up to four dot-separated numbers of 0 to 65535: the version "
                "comparison reads something else");
    }
  }

  void CheckOperatingSystems(const CTalXMLNode *package) {
    const CTalXMLNode *prerequisites =
        package ? reader_.FindChild(package, L"prerequisites") : nullptr;
    const CTalXMLNode *systems =
        prerequisites ? reader_.FindChild(prerequisites, L"supported_operating_systems") : nullptr;
    if (!systems) {
      Show("operating systems", "every system (none listed)");
      return;
    }
    int index = 0;
    std::string list;
    for (const CTalXMLNode *entry = reader_.FindChild(systems, L"supported_operating_system");
         entry; entry = entry->GetNextSibling()) {
      if (std::wcscmp(entry->GetName(), L"supported_operating_system") != 0) continue;
      const std::string where = "supported_operating_system #" + std::to_string(++index);
      const wchar_t *platform = entry->GetAttribute(L"platform");
      const std::wstring p = platform ? platform : L"";
      if (p.size() > 63) {
        Error("PKG016", packageFile_, where,
              "platform text longer than 63 characters: matches no system");
      } else if (CompareNoCase(p.c_str(), L"nt") != 0 && CompareNoCase(p.c_str(), L"nt64") != 0 &&
                 CompareNoCase(p.c_str(), L"nt_x86-64") != 0) {
        Error("PKG017", packageFile_, where,
              "platform " + Quote(Narrow(p.c_str())) +
                  " is none of nt, nt64, nt_x86-64: matches no system");
      }
      for (const wchar_t *number : {L"major", L"minor", L"sr"}) {
        const wchar_t *value = entry->GetAttribute(number);
        if (value && !AllDigits(value)) {
          Error("PKG018", packageFile_, where,
                Narrow(number) + "=" + Quote(Narrow(value)) + " is not a number (read as " +
                    std::to_string(std::wcstoul(value, nullptr, 10)) + ")");
        }
      }
      const wchar_t *edition = entry->GetAttribute(L"edition");
      if (edition && EditionMaskFromName(edition) == 0) {
        Error("PKG019", packageFile_, where,
              "edition " + Quote(Narrow(edition)) + " is not a known edition: matches no system");
      }
      list += (list.empty() ? "" : ", ") + Narrow(p.c_str());
      for (const wchar_t *number : {L"major", L"minor"}) {
        if (const wchar_t *value = entry->GetAttribute(number)) list += " " + Narrow(value);
      }
      if (edition) list += " (" + Narrow(edition) + ")";
    }
    Show("operating systems", list.empty() ? "every system (empty list)" : list);
  }

  void CheckDevices() {
    std::string list;
    // The entries in the order the plug-in reads them (the order of supportedDevices).
    std::vector<std::string> textless;  // pnp or eisa entries whose id has no text
    const CTalXMLNode *package = reader_.FindChild(nullptr, L"tal_package");
    const CTalXMLNode *prerequisites =
        package ? reader_.FindChild(package, L"prerequisites") : nullptr;
    const CTalXMLNode *devices =
        prerequisites ? reader_.FindChild(prerequisites, L"supported_devices") : nullptr;
    for (const CTalXMLNode *group = devices ? reader_.FindChild(devices, L"supported_devices_and")
                                            : nullptr;
         group; group = group->GetNextSibling()) {
      if (std::wcscmp(group->GetName(), L"supported_devices_and") != 0) continue;
      const CTalXMLNode *device = group->FindChild(L"supported_device");
      const wchar_t *type = device ? device->GetAttribute(L"type") : nullptr;
      if (!type || CompareNoCase(type, L"pci") == 0 || CompareNoCase(type, L"scsi") == 0) continue;
      if (CompareNoCase(type, L"eisa") != 0 && CompareNoCase(type, L"pnp") != 0) continue;
      const CTalXMLNode *data = device->FindChild(L"supported_device_data");
      const CTalXMLNode *text = data ? data->GetFirstChild() : nullptr;
      if (!text || text->GetKind() != XML_NODE_TEXT) textless.push_back(Narrow(type));
    }
    size_t textlessReported = 0;
    for (size_t i = 0; i < component_.supportedDevices.size(); ++i) {
      const std::string id = Narrow(component_.supportedDevices[i].c_str());
      if (id.empty() && textlessReported < textless.size()) {
        Error("PKG020", packageFile_,
              "supported_devices_and #" + std::to_string(i + 1) + " (" +
                  textless[textlessReported++] + ")",
              "its supported_device_data has no id text the plug-in reads (an id on a line of its "
              "own, or after white space, is dropped): the entry matches no device, so the "
              "package finds no hardware");
      } else if (id.empty()) {
        Error("PKG021", packageFile_, "supported_devices_and #" + std::to_string(i + 1),
              "gives an empty hardware id (a pci entry needs ven and dev, or all of ven, dev, "
              "subven and subdev; an eisa id has 7 characters): no device ever matches it");
      }
      list += (list.empty() ? "" : ", ") + (id.empty() ? std::string("(empty)") : id);
    }
    if (!list.empty()) Show("supported devices", list);
  }

  // --- install.xml ---

  void CheckInstallerXml() {
    if (sys().findFiles(L"", L"install.xml").empty()) {
      Show("install.xml", "none");
      return;
    }
    CTalXMLReader reader;
    const int32_t rc = reader.LoadFile(L"install.xml");
    if (rc != 0) {
      XmlFinding(
          "PKG022", true, "install.xml", ErrorOf(reader),
          "cannot be read (result " + std::to_string(rc) + "): the plug-in's initialisation fails");
      return;
    }
    const CTalXMLNode *root = reader.FindChild(nullptr, L"tal_install");
    const CTalXMLNode *info = root ? reader.FindChild(root, L"inf_information") : nullptr;
    if (!info) {
      Error("PKG023", "install.xml", "tal_install/inf_information", "missing: no INF is named");
      return;
    }
    const struct {
      uint32_t major;
      const char *windows;
      const wchar_t *element;
    } versions[] = {{4, "Windows NT 4", L"inf_file_nt4"},
                    {5, "Windows 2000 to Server 2003", L"inf_file_nt5"},
                    {10, "Windows Vista and later", L"inf_file"}};
    // Each distinct element once, with the systems that use it.
    std::vector<std::pair<const CTalXMLNode *, std::string>> uses;
    std::vector<uint32_t> majors;
    for (const auto &v : versions) {
      const CTalXMLNode *inf = reader.FindChild(info, v.element);
      if (!inf) inf = reader.FindChild(info, L"inf_file");
      if (!inf) {
        Error("PKG024", "install.xml", std::string("inf_information (") + v.windows + ")",
              "no INF element for these systems (nor inf_file)");
        continue;
      }
      bool known = false;
      for (auto &use : uses) {
        if (use.first == inf) {
          use.second += std::string(", ") + v.windows;
          known = true;
        }
      }
      if (!known) {
        uses.push_back({inf, v.windows});
        majors.push_back(v.major);
      }
    }
    for (size_t i = 0; i < uses.size(); ++i) {
      const CTalXMLNode *inf = uses[i].first;
      platform_.reportedMajor = majors[i];
      Component reading;
      reading.ReadInstallerXml(L"install.xml");
      platform_.reportedMajor = 10;
      const std::string file = Narrow(reading.infFile.c_str());
      const std::string element = Narrow(inf->GetName());
      Show("INF (" + uses[i].second + ")", element + " " + Quote(file));
      if (file.empty()) {
        Error("PKG025", "install.xml", element, "no filename");
      } else if (!sys().isRegularFile(reading.infFile.str())) {
        Error("PKG026", "install.xml", element,
              "the INF file " + Quote(file) + " is not in the package");
      }
      if (reading.installType == INSTALL_UNKNOWN) {
        const wchar_t *type = inf->GetAttribute(L"type");
        Error("PKG027", "install.xml", element,
              "type " + Quote(Narrow(type)) + " is none of LEGACY, PNP, VIRTUAL");
      }
      if (reading.installType == INSTALL_LEGACY || reading.installType == INSTALL_PNP) {
        driverPackage_ = true;
        CheckDriverInf(reading, element);
      }
    }
  }

  // A LEGACY or PNP INF: what the installation and the installed check need of it.
  void CheckDriverInf(Component &reading, const std::string &element) {
    if (reading.installType == INSTALL_PNP && component_.supportedDevices.empty()) {
      Error("PKG028", "install.xml", element,
            "a PNP package whose definition lists no supported_devices: Install fails with "
            "\"No supported devices were specified.\"");
    }
    CInf inf(reading.infFile.c_str(), nullptr);
    if (!inf.IsOpen()) {
      if (sys().isRegularFile(reading.infFile.str()))
        Error("PKG029", "install.xml", element, "the INF file cannot be opened as an INF");
      return;
    }
    wchar_t service[261] = {};
    if (reading.serviceName.IsEmpty() && !inf.GetServiceName(nullptr, service, 261)) {
      Warning("PKG030", "install.xml", element,
              "the INF's first install section adds no service and service_name names none: "
              "the installed check counts the package installed whenever its version file exists");
    }
    CheckInfFiles(inf, reading);
  }

  // What the installation copies (LEGACY) or stages (PNP): every file list the installed
  // sections name must be there, and every file they copy in the package.
  void CheckInfFiles(CInf &inf, Component &reading) {
    const std::string file = Narrow(reading.infFile.c_str());
    if (!inf.SectionsRead()) {
      Error("PKG031", file, "", "its section list cannot be read: the installation fails");
      return;
    }
    const bool pnp = reading.installType == INSTALL_PNP;
    std::vector<CStr> sections = inf.CopyFilesSections();
    if (!pnp && !reading.infSection.IsEmpty()) sections = {reading.infSection};
    if (!pnp && reading.infSection.IsEmpty() && sections.empty()) {
      Warning("PKG032", file, "",
              "no section copies files: the default installation installs the sections that "
              "do, so it copies no file and writes no setting of this INF");
    }
    const std::wstring folder = inf.GetSourceDir().str();
    // A file is in the package as itself or, for a PNP package, compressed.
    const auto present = [&](const std::wstring &name) {
      if (sys().isRegularFile(folder + name)) return true;
      if (!pnp) return false;
      std::wstring compressed = name;
      const size_t dot = compressed.find_last_of(L'.');
      if (dot == std::wstring::npos)
        compressed += L"._";
      else if (compressed.size() - dot > 3)
        compressed.back() = L'_';
      else
        compressed += L"_";
      return sys().isRegularFile(folder + compressed);
    };
    const std::string fails =
        pnp ? "staging fails and no device is updated" : "the installation fails";
    size_t files = 0;
    copies_.clear();
    for (const CStr &section : sections) {
      std::vector<tal::os::InfLine> lines;
      inf.Lines(section.c_str(), lines);
      const std::string where = "[" + Narrow(section.c_str()) + "]";
      for (const tal::os::InfLine &line : lines) {
        if (!line.hasKey || CompareNoCase(line.key.c_str(), L"CopyFiles") != 0) continue;
        for (const std::wstring &field : line.fields) {
          if (field.empty()) continue;
          if (field[0] == L'@') {
            ++files;
            copies_.push_back({field.substr(1), field.substr(1)});
            if (!present(field.substr(1)))
              Error("PKG033", file, where,
                    "the file " + Quote(Narrow(field.c_str() + 1)) +
                        " it copies is not in the package: " + fails);
            continue;
          }
          std::vector<tal::os::InfLine> list;
          if (!inf.Lines(field.c_str(), list)) {
            Error("PKG034", file, where,
                  "CopyFiles names the file list [" + Narrow(field.c_str()) +
                      "], which the INF does not have: " + fails);
            continue;
          }
          for (const tal::os::InfLine &entry : list) {
            const std::wstring &source = entry.fields.size() >= 2 && !entry.fields[1].empty()
                                             ? entry.fields[1]
                                         : entry.fields.empty() ? std::wstring()
                                                                : entry.fields[0];
            if (source.empty()) continue;
            ++files;
            copies_.push_back(
                {entry.fields.empty() || entry.fields[0].empty() ? source : entry.fields[0],
                 source});
            if (!present(source))
              Error(
                  "PKG033", file, "[" + Narrow(field.c_str()) + "]",
                  "the file " + Quote(Narrow(source.c_str())) + " is not in the package: " + fails);
          }
        }
      }
    }
    Show("INF " + file, std::to_string(sections.size()) + " section(s) copying " +
                            std::to_string(files) + " file(s)");
    CheckVersionFile(file, folder, present);
  }

  // The version file: the installed file whose version resource the installed-version check
  // compares with the package's version. The INF must install it, the package must carry it, and
  // the package's copy must carry the package's version; otherwise the installed component is
  // found older (or newer) on every run.
  template <typename Present>
  void CheckVersionFile(const std::string &inf, const std::wstring &folder, Present present) {
    const std::wstring path = component_.versionFilePath.str();
    if (path.empty()) {
      Error("PKG035", packageFile_, "sw_keys",
            "no sw_key names a version file with its sw_key_expectedpath: the installed version "
            "is never found, so the component is found older than the package on every run");
      return;
    }
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    Show("version file", Narrow(path.c_str()));
    const std::pair<std::wstring, std::wstring> *copy = nullptr;
    for (const auto &c : copies_) {
      if (CompareNoCase(c.first.c_str(), name.c_str()) == 0) {
        copy = &c;
        break;
      }
    }
    if (!copy) {
      Error("PKG036", inf, "",
            "copies no file named " + Quote(Narrow(name.c_str())) +
                ", the version file the package definition names: the installation does not "
                "update the version the installed check reads");
      return;
    }
    if (!present(copy->second)) {
      Error("PKG037", packageFile_, "sw_key " + Quote(Narrow(name.c_str())),
            "the version file's source " + Quote(Narrow(copy->second.c_str())) +
                " is not in the package: nothing installs the version the installed check reads");
      return;
    }
    // A compressed source (a PNP package's "name.sy_") shows no version resource.
    if (!sys().isRegularFile(folder + copy->second)) return;
    wchar_t expected[256] = {};
    if (!component_.GetPackageVersion(expected, 256)) return;  // PKG014 says why
    uint16_t want[4] = {0, 0, 0, 0};
    const std::wstring text = expected;
    size_t start = 0;
    for (int i = 0; i < 4 && start <= text.size(); ++i) {
      want[i] = static_cast<uint16_t>(std::wcstoul(text.c_str() + start, nullptr, 10));
      const size_t dot = text.find(L'.', start);
      if (dot == std::wstring::npos) break;
      start = dot + 1;
    }
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "%u.%u.%u.%u", want[0], want[1], want[2], want[3]);
    tal::os::FileVersion carried;
    const std::string where = Narrow(copy->second.c_str());
    if (!sys().fileVersion(folder + copy->second, carried)) {
      Error("PKG038", where, "",
            "has no version resource: once installed it counts as 0.0.0.0, older than the "
            "package's " +
                std::string(wanted) + " on every run");
      return;
    }
    char found[32];
    std::snprintf(found, sizeof found, "%u.%u.%u.%u", carried.part[0], carried.part[1],
                  carried.part[2], carried.part[3]);
    if (std::string(found) != wanted) {
      Error("PKG038", where, "",
            "carries version " + std::string(found) + " but the package's version is " + wanted +
                ": once installed it is found " +
                (std::lexicographical_compare(carried.part, carried.part + 4, want, want + 4)
                     ? "older, and installed again, on every run"
                     : "newer than the package on every run"));
    }
  }

  // --- Config.xml and the images ---

  void CheckConfig() {
    C_XML config;
    config.SetTrimWhitespace(true);
    if (!sys().isRegularFile(L"Config.xml")) {
      Error("PKG040", "Config.xml", "", "missing: the flash engine has no device to update");
      return;
    }
    if (!config.Load("Config.xml")) {
      XmlFinding("PKG041", true, "Config.xml", config.LoadError(),
                 "not well-formed: the engine stops");
      return;
    }
    if (!config.FindNode("/Devices")) {
      Error("PKG042", "Config.xml", "", "no Devices root element: the engine stops");
      return;
    }
    releaseConfigInfo();
    const bool created = createConfigInfo("");
    const ConfigInfo *info = ConfigInfo::instance();
    const std::string engineFile = info->packageName + ".xml";
    if (!packageFile_.empty() && engineFile != packageFile_) {
      Error("PKG043", "Config.xml", "kzxml/FileName",
            Quote(info->packageName) + " names " + Quote(engineFile) +
                ", but the plug-in reads the package definition " + Quote(packageFile_) +
                ": the engine takes its key files and version from another file");
    }
    if (!created) {
      Error("PKG044", "Config.xml", "kzxml/FileName",
            "the engine cannot read the package file " + Quote(engineFile) +
                " it names: the engine stops");
      return;
    }
    std::vector<const ConfigEntry *> entries;
    for (const ConfigEntry *e = info->table[1]; e; e = e->next) entries.insert(entries.begin(), e);
    int index = 0;
    for (C_XMLNode *node = config.FirstChild(config.FindNode("/Devices")); node;
         node = config.NextSibling(node)) {
      if (node->name != "Device") continue;
      ++index;
      std::string type;
      if (C_XMLNode *first = config.FirstChild(node)) config.GetText(first, &type);
      if (Trim(type) != "1" && Trim(type) != "0") {
        Error(
            "PKG045", "Config.xml", "Device #" + std::to_string(index),
            "configuration type " + Quote(type) + " is neither 0 nor 1: the engine leaves it out");
      }
    }
    for (const ConfigEntry *entry : entries) CheckEntry(*entry);
    for (const std::string &key : info->keyFileList) {
      bool covered = false;
      for (const ConfigEntry *entry : entries)
        covered = covered || StartsWithNoCase(entry->devName, key);
      if (!covered) {
        Warning("PKG046", packageFile_, "sw_key " + Quote(key),
                "no Config.xml entry for this product: its devices are found but never updated");
      }
    }
    for (const ConfigEntry *entry : entries) {
      bool covered = false;
      for (const std::string &key : info->keyFileList)
        covered = covered || StartsWithNoCase(entry->devName, key);
      if (!covered) {
        Error("PKG047", "Config.xml", "Device " + Quote(entry->devName),
              "no sw_key of the package definition names this product: the engine never "
              "updates it");
      }
    }
    releaseConfigInfo();
  }

  void CheckEntry(const ConfigEntry &entry) {
    const std::string where = "Device " + Quote(entry.devName);
    FILE *file = sys().openStream(entry.payload.c_str(), "rb");
    if (!file) {
      Error("PKG048", "Config.xml", where,
            "the image " + Quote(entry.payload) + " is not in the package");
      return;
    }
    uint8_t bytes[fwimg::kHeaderSize] = {};
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    fwimg::Header header;
    const fwimg::Decode decoded =
        fwimg::decodeHeader(bytes, got, size < 0 ? 0 : static_cast<uint64_t>(size), header);
    if (decoded != fwimg::Decode::kOk) {
      if (decoded == fwimg::Decode::kNoHeader)
        Error("PKG049", entry.payload, "", "has no image header (byte 0 is 0 or 255)");
      else
        Error("PKG050", entry.payload, "", "is shorter than its image header");
      return;
    }
    const uint64_t payload = static_cast<uint64_t>(size) - static_cast<uint64_t>(header.headerLen);
    Show("image " + entry.payload, header.strFwName + " " + header.strFwRev + " for " +
                                       header.strDeviceId + ", " + std::to_string(payload) +
                                       " bytes of payload");
    if (header.strFwName != "VeltoE" && header.strFwName != "VeltoI") {
      Error("PKG051", entry.payload, "header",
            "device type " + Quote(header.strFwName) + " is one the engine cannot flash");
    }
    if (header.strIsp != header.strDeviceId) {
      Error("PKG052", entry.payload, "header",
            "the ISP text " + Quote(header.strIsp) + " does not name the chip " +
                Quote(header.strDeviceId) + " (compared exactly): the engine refuses the image");
    }
    if (header.strFwName == "VeltoI" && payload > vlti::kMaxPayload) {
      Error("PKG053", entry.payload, "",
            "a Velto-I payload of " + std::to_string(payload) + " bytes is over the " +
                std::to_string(vlti::kMaxPayload) + " the CPLD holds: the engine refuses it");
    }
    // The device shows its version registers as "%x.%02x": a revision whose digits are written
    // into them reads back as "%d.%02d".
    const int major = bytes[fwimg::kOffMajor], minor = bytes[fwimg::kOffMinor];
    char reported[16];
    std::snprintf(reported, sizeof reported, "%d.%02d", major, minor);
    if (entry.version != reported) {
      Error("PKG054", "Config.xml", where,
            "version " + Quote(entry.version) + " differs from the image's revision " +
                header.strFwRev + ", which the device reports as " + Quote(reported) +
                " after the update: it would be found older and flashed again on every run");
    }
  }

  // --- the plug-in ---

  // The setup program loads the plug-in from the package folder: install.dll for a firmware
  // package, drvinstall.dll for a driver package (install.xml naming a LEGACY or PNP INF). The
  // native build's libraries (libinstall.so, libdrvinstall.so) stand for them in a package tried
  // here with talhost.
  void CheckPlugin() {
    const wchar_t *wanted = driverPackage_ ? L"drvinstall.dll" : L"install.dll";
    const wchar_t *other = driverPackage_ ? L"install.dll" : L"drvinstall.dll";
    std::vector<const wchar_t *> names = {wanted};
#ifndef _WIN32
    names.push_back(driverPackage_ ? L"libdrvinstall.so" : L"libinstall.so");
#endif
    for (const wchar_t *name : names) {
      const std::vector<std::wstring> found = sys().findFiles(L"", name);
      if (!found.empty()) {
        Show("plug-in", Narrow(found.front().c_str()));
        return;
      }
    }
    std::string message = "the plug-in " + Quote(Narrow(wanted)) +
                          " is not in the package: the setup program has nothing to load";
    if (!sys().findFiles(L"", other).empty()) {
      message += " (the package holds " + Quote(Narrow(other)) + ", the plug-in for " +
                 (driverPackage_ ? "firmware packages" : "driver packages") + ")";
    }
    Error("PKG070", Narrow(wanted), "", message);
  }

  // --- dependency.xml ---

  void CheckDependencies() {
    if (!sys().isRegularFile(L"dependency.xml")) {
      Show("system models", "every model (no dependency.xml)");
      return;
    }
    CTalXMLReader reader;
    if (reader.LoadFile(L"dependency.xml") != 0) {
      XmlFinding("PKG060", false, "dependency.xml", ErrorOf(reader),
                 "not well-formed: the plug-in ignores it and every system model passes");
      return;
    }
    const CTalXMLNode *node = reader.FindChild(nullptr, L"componentdependencies");
    for (const wchar_t *name : {L"dependent_hardware", L"platforms"}) {
      node = node ? reader.FindChild(node, name) : nullptr;
    }
    if (!node) {
      Error("PKG061", "dependency.xml", "componentdependencies/dependent_hardware/platforms",
            "missing: the system-model check fails on every system (status 6)");
      return;
    }
    std::string models;
    int index = 0;
    for (const CTalXMLNode *p = reader.FindChild(node, L"platform"); p; p = p->GetNextSibling()) {
      ++index;
      const wchar_t *model = p->GetAttribute(L"model");
      if (!model) {
        Warning("PKG062", "dependency.xml",
                "platforms/" + Narrow(p->GetName()) + " #" + std::to_string(index),
                "has no model attribute: matches no system");
        continue;
      }
      models += (models.empty() ? "" : ", ") + Quote(Narrow(model));
    }
    if (models.empty()) {
      Error("PKG063", "dependency.xml", "platforms",
            "lists no model: the system-model check fails on every system (status 6)");
    }
    Show("system models", models.empty() ? "(none)" : models);
  }

  pkgcheck::ReadOnlyPlatform &platform_;
  Component component_;
  CTalXMLReader reader_;
  C_XML full_;
  std::string packageFile_;
  // What the driver package's INF copies: (installed name, name in the package).
  std::vector<std::pair<std::wstring, std::wstring>> copies_;
  std::vector<Finding> findings_;
  std::vector<std::pair<std::string, std::string>> shown_;
};

}  // namespace

int main(int argc, char **argv) {
  CLI::App app(
      "Checks a package folder (default: the current folder) as the plug-in will read "
      "it.\nExit status: 0 clean, 1 warnings only, 2 errors (or bad arguments), 3 the "
      "folder cannot be entered.",
      "pkgcheck");
  bool json = false;
  std::string folder;
  app.add_flag("--json", json, "print the findings as one JSON document");
  app.add_option("folder", folder, "the package folder");
  tal::cli::addVersion(app);
  // The arguments as UTF-8 (on Windows from the wide command line: argv is in the ANSI code page).
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#ifdef _WIN32
  std::vector<std::wstring> wide;
  if (tal::os::defaultPlatform().commandLineArguments(wide) && !wide.empty()) {
    args.clear();
    for (size_t i = 1; i < wide.size(); ++i) args.push_back(toUtf8(wide[i]));
  }
#endif
  const int parsed = tal::cli::parse(app, args);
  if (parsed >= 0) return parsed;
  std::error_code failed;
  if (!folder.empty()) std::filesystem::current_path(std::filesystem::u8path(folder), failed);
  if (failed) {
    std::fprintf(stderr, "pkgcheck: cannot enter %s: %s\n", folder.c_str(),
                 failed.message().c_str());
    return 3;
  }
  const std::string shown = std::filesystem::current_path(failed).u8string();
  pkgcheck::ReadOnlyPlatform platform(tal::os::defaultPlatform());
  tal::os::setPlatform(&platform);
  int status = 0;
  {
    Checker checker(platform);
    checker.Run();
    if (json) {
      checker.PrintJson(shown);
    } else {
      checker.PrintText(shown);
    }
    status = checker.Errors() ? 2 : checker.Warnings() ? 1 : 0;
  }
  tal::os::setPlatform(nullptr);
  return status;
}
