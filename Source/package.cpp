// The package definition file (kz*.xml, root tal_package) and the installer XML (install.xml):
// finding them, reading what they declare into the component, and the properties that answer
// from the package document (name, description, version).
#include <cwchar>
#include <vector>

#include "basecomp.h"
#include "talxmlreader.h"

using tal::os::sys;

namespace {

const wchar_t kSource[] = L"basecomp";
#define BC_HERE kSource, __LINE__

const wchar_t kPackagePattern[] = L"kz*.xml";
constexpr size_t kPathChars = 260;

// The text of an element: its first child, when that child is a text node.
const wchar_t *ElementText(const CTalXMLNode *element) {
  if (!element) return nullptr;
  const CTalXMLNode *first = element->GetFirstChild();
  if (!first || first->GetKind() != XML_NODE_TEXT) return nullptr;
  return first->GetText();
}

// The first child of that name under a parent that may be missing (the reader's own lookup takes
// a missing parent for the document node).
const CTalXMLNode *Child(const CTalXMLReader &reader, const CTalXMLNode *parent,
                         const wchar_t *name) {
  return parent ? reader.FindChild(parent, name) : nullptr;
}

// The elements named `name` in the `list` child of `parent`: the first one and each later sibling
// of that name.
std::vector<const CTalXMLNode *> Entries(const CTalXMLReader &reader, const CTalXMLNode &parent,
                                         const wchar_t *list, const wchar_t *name) {
  std::vector<const CTalXMLNode *> out;
  for (const CTalXMLNode *entry = Child(reader, Child(reader, &parent, list), name); entry;
       entry = entry->GetNextSibling()) {
    if (std::wcscmp(entry->GetName(), name) == 0) out.push_back(entry);
  }
  return out;
}

// Leading decimal digits (none: 0), held at the largest value the field takes.
uint32_t LeadingDecimal(const wchar_t *text, uint32_t largest) {
  uint64_t value = 0;
  for (const wchar_t *p = text; p && *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > largest) value = largest;
  }
  return static_cast<uint32_t>(value);
}

// A number attribute of a supported operating system: -1 when absent.
int32_t NumberOrAbsent(const CTalXMLNode *node, const wchar_t *attribute) {
  const wchar_t *text = node->GetAttribute(attribute);
  return text ? static_cast<int32_t>(LeadingDecimal(text, 0x7FFFFFFF)) : -1;
}

// The element chosen by the host's language, else the "en" one.
const CTalXMLNode *LanguageChild(const CTalXMLReader &reader, const wchar_t *container,
                                 const wchar_t *element, const wchar_t *lang) {
  const CTalXMLNode *package = reader.FindChild(nullptr, L"tal_package");
  const CTalXMLNode *parent = Child(reader, package, container);
  if (!parent) return nullptr;
  const CTalXMLNode *chosen = reader.FindChild(parent, element, L"lang", lang ? lang : L"");
  return chosen ? chosen : reader.FindChild(parent, element, L"lang", L"en");
}

}  // namespace

uint16_t EditionMaskFromName(const wchar_t *text) {
  static const struct {
    const wchar_t *name;
    uint16_t mask;
  } kEditions[] = {
      {L"", 0xFFFF},       {L"srvr", 0xFF05},   {L"core", 0xFF0A},     {L"r2", 0xFF0C},
      {L"r2srvr", 0xFF04}, {L"r2core", 0xFF08}, {L"dc", 0x040F},       {L"dcsrvr", 0x0405},
      {L"dccore", 0x040A}, {L"dcr2", 0x040C},   {L"dcr2srvr", 0x0404}, {L"dcr2core", 0x0408},
      {L"sbs", 0x0205},    {L"sbsr2", 0x0204},  {L"ebs", 0x0206},      {L"ebsr2", 0x0207},
  };
  std::wstring lowered = text ? text : L"";
  for (wchar_t &c : lowered) c = FoldAscii(c);
  for (const auto &edition : kEditions) {
    if (lowered == edition.name) return edition.mask;
  }
  return 0;
}

CStr MakeHardwareId(const wchar_t *text) {
  const std::wstring id = text ? text : L"";
  switch (id.size()) {
    case 7:
      return CStr::Format(L"*%ls", id.c_str());
    case 8:
      return CStr::Format(L"PCI\\VEN_%ls&DEV_%ls", id.substr(0, 4).c_str(),
                          id.substr(4, 4).c_str());
    case 16:
      return CStr::Format(L"PCI\\VEN_%ls&DEV_%ls&SUBSYS_%ls%ls", id.substr(0, 4).c_str(),
                          id.substr(4, 4).c_str(), id.substr(12, 4).c_str(),
                          id.substr(8, 4).c_str());
    default:
      return CStr();
  }
}

int32_t CBaseComponent::FindPackageDefinitionFile(wchar_t *out, uint32_t size) {
  // Every kz*.xml of the current directory, in the file system's order: the first that loads
  // and has a tal_package root is the one.
  for (const std::wstring &name : sys().findFiles(L"", kPackagePattern)) {
    CTalXMLReader reader;
    if (reader.LoadFile(name.c_str()) != XML_LOAD_OK || !reader.IsLoaded()) continue;
    if (!reader.FindChild(nullptr, L"tal_package")) continue;
    if (!out || !CopyWhole(out, size, name.c_str())) continue;  // a name cut short opens nothing
    return 1;
  }
  return 0;
}

int32_t CBaseComponent::ReadPackageDefinition(const wchar_t *path) {
  if (!path || !*path) return 4;
  if (packageReader) return 1;
  packageReader.reset(new CTalXMLReader());
  const int32_t loaded = packageReader->LoadFile(path);
  if (loaded != XML_LOAD_OK) return loaded;
  if (!packageReader->GetRoot()) return 3;
  const CTalXMLReader &reader = *packageReader;
  const CTalXMLNode *package = reader.FindChild(nullptr, L"tal_package");
  if (!package) return 0;

  if (const wchar_t *name = ElementText(Child(reader, package, L"filename"))) {
    if (!CopyWhole(packageFileName, 128, name)) {
      log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                 L"The package file name is longer than 127 characters and is not used.\r\n");
    }
  }

  // The version file: the first candidate is the default, the first existing one wins.
  if (const CTalXMLNode *keys = Child(reader, package, L"sw_keys")) {
    CStr fileName;
    for (const CTalXMLNode *group = Child(reader, keys, L"sw_keys_and"); group;
         group = group->GetNextSibling()) {
      const CTalXMLNode *key = group->FindChild(L"sw_key");
      if (!key) continue;
      if (const wchar_t *name = key->GetAttribute(L"name")) fileName = name;
      const wchar_t *folder = ElementText(key->FindChild(L"sw_key_expectedpath"));
      if (!folder) continue;
      const size_t length = std::wcslen(folder);
      CStr joined = length > 0 && folder[length - 1] == L'\\'
                        ? CStr::Format(L"%ls%ls", folder, fileName.c_str())
                        : CStr::Format(L"%ls\\%ls", folder, fileName.c_str());
      const std::wstring candidate = sys().expandEnvironment(joined.str());
      if (candidate.size() >= kPathChars) {
        log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                   L"A version file path longer than 259 characters is not used.\r\n");
        continue;
      }
      if (versionFilePath.IsEmpty()) versionFilePath = candidate;
      if (sys().isRegularFile(ResolveVersionFile(CStr(candidate)).str())) {
        versionFilePath = candidate;
        break;
      }
    }
  }

  const CTalXMLNode *installation = Child(reader, package, L"installation");
  if (const CTalXMLNode *install = Child(reader, installation, L"install")) {
    if (const CTalXMLNode *caps = Child(reader, install, L"install_caps")) {
      if (const wchar_t *value = caps->GetAttribute(L"silent")) {
        silent = CompareNoCase(value, L"yes") == 0 ? 1 : 0;
      }
    }
    if (const CTalXMLNode *reboot = Child(reader, install, L"reboot_required")) {
      if (const wchar_t *value = reboot->GetAttribute(L"value")) {
        rebootRequired = CompareNoCase(value, L"yes") == 0 ? 1 : 0;
      }
    }
  }

  if (const CTalXMLNode *prerequisites = Child(reader, package, L"prerequisites")) {
    if (const CTalXMLNode *disk = Child(reader, prerequisites, L"required_diskspace")) {
      requiredDiskSpaceKb = LeadingDecimal(disk->GetAttribute(L"size_kb"), 0xFFFFFFFFu);
    }
    ReadSupportedDevices(reader, *prerequisites);
    ReadSupportedOperatingSystems(reader, *prerequisites);
  }
  return 0;
}

void CBaseComponent::ReadSupportedDevices(const CTalXMLReader &reader,
                                          const CTalXMLNode &prerequisites) {
  for (const CTalXMLNode *group :
       Entries(reader, prerequisites, L"supported_devices", L"supported_devices_and")) {
    const CTalXMLNode *device = group->FindChild(L"supported_device");
    const wchar_t *type = device ? device->GetAttribute(L"type") : nullptr;
    if (!type) continue;
    if (CompareNoCase(type, L"pci") == 0) {
      CStr joined;
      for (const wchar_t *part : {L"ven", L"dev", L"subven", L"subdev"}) {
        const CTalXMLNode *data = reader.FindChild(device, L"supported_device_data", L"name", part);
        if (const wchar_t *text = ElementText(data)) joined += text;
      }
      supportedDevices.push_back(MakeHardwareId(joined.c_str()));
      continue;
    }
    // An entry keeps its place whatever its text: one whose id cannot be read (no data, or
    // text the reader drops, such as an id on a line of its own) becomes an empty id, which no
    // present device has. Dropping it instead would leave a list that may be empty, and an
    // empty list means "any hardware".
    const CTalXMLNode *data = device->FindChild(L"supported_device_data");
    const wchar_t *text = ElementText(data);
    const bool eisa = CompareNoCase(type, L"eisa") == 0;
    const bool pnp = CompareNoCase(type, L"pnp") == 0;
    const bool scsi = CompareNoCase(type, L"scsi") == 0;
    if (!eisa && !pnp && !scsi) continue;
    if (eisa) {
      const wchar_t *name = data ? data->GetAttribute(L"name") : nullptr;
      if (!name || CompareNoCase(name, L"id") != 0) text = nullptr;
    }
    if (!text) {
      log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                 L"A supported %ls device has no id text that can be read (an id on a line of "
                 L"its own is dropped); the entry matches no device.\r\n",
                 type);
    }
    if (scsi) {
      supportedScsiIds.push_back(CStr(text ? text : L""));
    } else {
      supportedDevices.push_back(eisa ? MakeHardwareId(text) : CStr(text ? text : L""));
    }
  }
}

void CBaseComponent::ReadSupportedOperatingSystems(const CTalXMLReader &reader,
                                                   const CTalXMLNode &prerequisites) {
  for (const CTalXMLNode *entry : Entries(reader, prerequisites, L"supported_operating_systems",
                                          L"supported_operating_system")) {
    SupportedOS record = {};
    record.major = NumberOrAbsent(entry, L"major");
    record.minor = NumberOrAbsent(entry, L"minor");
    record.servicePack = NumberOrAbsent(entry, L"sr");
    const wchar_t *edition = entry->GetAttribute(L"edition");
    record.edition = edition ? EditionMaskFromName(edition) : 0xFFFF;
    const wchar_t *platform = entry->GetAttribute(L"platform");
    if (platform && !CopyWhole(record.platform, 64, platform)) {
      // Kept in the list, so that a list of such entries never reads as "every system", but
      // with a mask that matches no system.
      log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                 L"A supported operating system's platform text is longer than 63 characters; "
                 L"the entry matches no system.\r\n");
      record.platform[0] = L'\0';
      record.edition = 0;
    }
    supportedOS.push_back(record);
  }
}

int32_t CBaseComponent::ReadInstallerXml(const wchar_t *path) {
  if (!path || !*path) return 4;
  tal::os::SystemIdentity identity;
  sys().systemIdentity(identity);
  const wchar_t *infElement = identity.reportedMajor == 4   ? L"inf_file_nt4"
                              : identity.reportedMajor == 5 ? L"inf_file_nt5"
                                                            : L"inf_file";
  CTalXMLReader reader;
  const int32_t loaded = reader.LoadFile(path);
  if (loaded != XML_LOAD_OK) return loaded;
  if (!reader.GetRoot()) return 3;
  const CTalXMLNode *install = reader.FindChild(nullptr, L"tal_install");
  const CTalXMLNode *information = Child(reader, install, L"inf_information");
  const CTalXMLNode *inf = Child(reader, information, infElement);
  if (!inf) inf = Child(reader, information, L"inf_file");
  if (inf) {
    if (const wchar_t *file = inf->GetAttribute(L"filename")) infFile = file;
    if (const wchar_t *type = inf->GetAttribute(L"type")) {
      if (CompareNoCase(type, L"LEGACY") == 0) installType = INSTALL_LEGACY;
      if (CompareNoCase(type, L"PNP") == 0) installType = INSTALL_PNP;
      if (CompareNoCase(type, L"VIRTUAL") == 0) installType = INSTALL_VIRTUAL;
    }
    if (const wchar_t *section = inf->GetAttribute(L"section")) infSection = section;
    if (const wchar_t *service = inf->GetAttribute(L"service_name")) serviceName = service;
  }
  const CTalXMLNode *shell = Child(reader, install, L"ShellExecute");
  if (const CTalXMLNode *info = Child(reader, shell, L"ShellExecute_Info")) {
    const struct {
      const wchar_t *attribute;
      wchar_t *field;
    } kShellFields[] = {{L"file", shellExecuteFile}, {L"DefaultDir", shellExecuteDir}};
    for (const auto &item : kShellFields) {
      const wchar_t *value = info->GetAttribute(item.attribute);
      if (!value) continue;
      const std::wstring expanded = sys().expandEnvironment(value);
      if (!CopyWhole(item.field, kPathChars, expanded.c_str())) {
        log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                   L"install.xml: the expanded ShellExecute_Info %ls is longer than 259 "
                   L"characters and is not used.\r\n",
                   item.attribute);
      }
    }
  }
  return 0;
}

// Properties 1, 2 and 4 answer from the package document.
int32_t CBaseComponent::GetName(wchar_t *out, uint32_t size, const wchar_t *lang) {
  if (!out || !packageReader) return 0;
  const wchar_t *text = ElementText(LanguageChild(*packageReader, L"name", L"name_xlate", lang));
  return text && CopyWhole(out, size, text) ? 1 : 0;
}

int32_t CBaseComponent::GetDescription(wchar_t *out, uint32_t size, const wchar_t *lang) {
  if (!out || !packageReader) return 0;
  const CTalXMLNode *chosen =
      LanguageChild(*packageReader, L"description", L"description_xlate", lang);
  const CTalXMLNode *cdata = chosen ? chosen->FindChild(L"#CDATA") : nullptr;
  const wchar_t *text = cdata ? cdata->GetText() : nullptr;
  return text && CopyWhole(out, size, text) ? 1 : 0;
}

int32_t CBaseComponent::GetPackageVersion(wchar_t *out, uint32_t size) {
  if (!out || !packageReader) return 0;
  const CTalXMLNode *package = packageReader->FindChild(nullptr, L"tal_package");
  const CTalXMLNode *version = Child(*packageReader, package, L"version");
  const wchar_t *text = version ? version->GetAttribute(L"value") : nullptr;
  return text && *text && CopyWhole(out, size, text) ? 1 : 0;
}
