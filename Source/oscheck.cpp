// The operating-system support check: the running system (platform text, true version, edition
// mask) against the package's supported operating systems, every step in the verbose log so that
// a failed check can be traced in the field; and the 64-bit test run at initialisation.
#include "basecomp.h"

using tal::os::sys;

namespace {

const wchar_t kSource[] = L"basecomp";
#define BC_HERE kSource, __LINE__

const wchar_t *TrueFalse(bool value) { return value ? L"TRUE" : L"FALSE"; }

}  // namespace

uint16_t EditionMaskFromProductType(uint32_t productType, bool serverR2) {
  switch (productType) {
    case 8:  // PRODUCT_DATACENTER_SERVER
      return serverR2 ? 0x0404 : 0x0405;
    case 9:   // PRODUCT_SMALLBUSINESS_SERVER
    case 25:  // PRODUCT_SMALLBUSINESS_SERVER_PREMIUM
      return serverR2 ? 0x0204 : 0x0205;
    case 12:  // PRODUCT_DATACENTER_SERVER_CORE
      return serverR2 ? 0x0408 : 0x040A;
    case 13:  // PRODUCT_STANDARD_SERVER_CORE
    case 14:  // PRODUCT_ENTERPRISE_SERVER_CORE
      return serverR2 ? 0x0108 : 0x0102;
    case 30:  // PRODUCT_MEDIUMBUSINESS_SERVER_MANAGEMENT
    case 31:  // PRODUCT_MEDIUMBUSINESS_SERVER_SECURITY
    case 32:  // PRODUCT_MEDIUMBUSINESS_SERVER_MESSAGING
      return serverR2 ? 0x0207 : 0x0206;
    default:
      return serverR2 ? 0xFF04 : 0xFF05;
  }
}

void CBaseComponent::GetOSVersionNumbers() {
  // The true version numbers (the system's own query, not capped by compatibility settings);
  // they are known even when the kernel library would not load.
  tal::os::SystemIdentity identity;
  sys().systemIdentity(identity);
  osMajor = identity.major;
  osMinor = identity.minor;
}

int32_t CBaseComponent::IsOSSupported() {
#define OS_LOG(...) log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"\r\nIsOSSupported: " __VA_ARGS__)
  if (supportedOS.empty()) {
    OS_LOG(L"Yes (empty)...\r\n");
    return 1;
  }
  OS_LOG(L"Calling TAL_OSVersion\r\n");
  GetOSVersionNumbers();
  OS_LOG(L"TAL_OSVersion returns: Major: (0x%X) - Minor: (0x%X)\r\n", osMajor, osMinor);

  OS_LOG(L"Setting Control Values");
  SupportedOS current = {};
  current.major = static_cast<int32_t>(osMajor);
  current.minor = static_cast<int32_t>(osMinor);
  current.servicePack = 0;

  OS_LOG(L"Calling GetSystemDirectory\r\n");
  tal::os::SystemIdentity identity;
  const bool loaded = sys().systemIdentity(identity);
  OS_LOG(L"Path and Name: %ls\r\n", identity.kernelPath.c_str());
  OS_LOG(L"GetSystemDirectory call complete\r\n");
  OS_LOG(L"Loading Library: kernel32.dll\r\n");
  OS_LOG(L"Loading Library Call for kernel32.dll - complete\r\n");
  if (!loaded) {
    OS_LOG(L"LoadLibrary Call for kernel32.dll - fails\r\n");
    return 0;
  }
  OS_LOG(L"LoadLibrary Call for kernel32.dll - succeeds\r\n");
  OS_LOG(L"Making call to GetNativeSystemInfo via GetProcAddress in Kernel32.dll\r\n");
  OS_LOG(L"Making call to GetVersionEx\r\n");
  OS_LOG(L"Setting Control Values");
  current.major = static_cast<int32_t>(osMajor);
  current.minor = static_cast<int32_t>(osMinor);
  // The installed service pack, as the version query reports it.
  current.servicePack = static_cast<int32_t>(identity.servicePackMajor & 0xFFFF);
  OS_LOG(L"Making call to GetVersionEx complete\r\n");

  if (identity.platformId == 2) {
    OS_LOG(L"dwPlatformId is (0x%X) \r\n", identity.platformId);
    switch (identity.architecture) {
      case 0:
        CopyTruncated(current.platform, 64, L"nt");
        OS_LOG(L"sysinfo.wProcessorArchitecture: (nt) PROCESSOR_ARCHITECTURE_INTEL\r\n");
        break;
      case 6:
        CopyTruncated(current.platform, 64, L"nt64");
        OS_LOG(L"sysinfo.wProcessorArchitecture: (nt64) PROCESSOR_ARCHITECTURE_IA64\r\n");
        break;
      case 9:
        CopyTruncated(current.platform, 64, L"nt_x86-64");
        OS_LOG(L"sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64\r\n");
        break;
      case 10:
        OS_LOG(L"sysinfo.wProcessorArchitecture: (NULL) PROCESSOR_ARCHITECTURE_IA32_ON_WIN64\r\n");
        break;
      default:
        OS_LOG(L"sysinfo.wProcessorArchitecture: (NULL) DEFAULT\r\n");
        break;
    }
  } else {
    OS_LOG(L"sysinfo.wProcessorArchitecture (NULL)\r\n");
  }

  uint32_t productType = 0;
  if (current.major > 5) {
    OS_LOG(L"Retrieving GetProductInfo Address\r\n");
    OS_LOG(L"GetProductInfo Address complete\r\n");
    if (identity.productInfoFound) {
      OS_LOG(L"GetProductInfo appears valid\r\n");
      productType = identity.productType;
      OS_LOG(L"GetProductInfo call complete\r\n");
    }
  }
  OS_LOG(L"dwEdition is (0x%X)\r\n", productType);
  current.edition = EditionMaskFromProductType(productType, identity.serverR2);
  OS_LOG(L"Current.nEdition is (0x%X)\r\n", static_cast<uint32_t>(current.edition));

  // A version check of an entry that failed: which, and the supported and the current value.
  const auto logFailed = [&](const wchar_t *check, const wchar_t *field, int32_t supported,
                             int32_t now) {
    OS_LOG(L"%ls Check fails - bMatch is %ls\r\n", check, TrueFalse(false));
    OS_LOG(L"%ls Check fails - SupportedOS.n%ls is (0x%X)\r\n", check, field,
           static_cast<uint32_t>(supported));
    OS_LOG(L"%ls Check fails - CurrentOS.n%ls is (0x%X)\r\n", check, field,
           static_cast<uint32_t>(now));
  };
  bool match = false;
  for (size_t i = 0; i < supportedOS.size(); ++i) {
    const SupportedOS &entry = supportedOS[i];
    OS_LOG(L"ulIndex is (0x%X)\r\n", static_cast<uint32_t>(i));
    match = false;
    OS_LOG(L"ulIndex - bMatch is %ls\r\n", TrueFalse(false));
    OS_LOG(L"ulIndex - SupportOS set\r\n");
    if (CompareNoCase(entry.platform, current.platform) != 0) continue;
    match = true;
    OS_LOG(L"Check OS Name succeeds - bMatch is %ls\r\n", TrueFalse(true));
    OS_LOG(L"Check OS Name succeeds - SupportedOS.szOSName is %ls\r\n", entry.platform);
    OS_LOG(L"Check OS Name succeeds - CurrentOS.szOSName is %ls\r\n", current.platform);
    if (entry.major != -1 && entry.major != current.major) {
      match = false;
      continue;
    }
    OS_LOG(L"(loop) else - bMatch is %ls\r\n", TrueFalse(true));
    if (entry.minor != -1 && entry.minor != current.minor) {
      match = false;
      logFailed(L"Minor OS Version", L"Minor", entry.minor, current.minor);
    }
    if (entry.servicePack != -1 && current.servicePack < entry.servicePack) {
      match = false;
      logFailed(L"Service Pack", L"ServicePack", entry.servicePack, current.servicePack);
    }
    if ((entry.edition & current.edition) != current.edition) {
      match = false;
      OS_LOG(L"Edition Check fails - bMatch is %ls\r\n", TrueFalse(false));
    }
    if (match) {
      OS_LOG(L"Breaking out of loop - bMatch is %ls\r\n", TrueFalse(true));
      break;
    }
  }
  OS_LOG(L"FreeLibrary Call for Kernel32.dll\r\n");
  OS_LOG(L"Leaving IsOSSupported - bMatch is %ls\r\n", TrueFalse(match));
  return match ? 1 : 0;
#undef OS_LOG
}

int32_t CBaseComponent::Is64BitOS() {
  tal::os::SystemIdentity identity;
  if (!sys().systemIdentity(identity)) return 0;  // the system's kernel library did not load
  if (identity.platformId != 2) return 0;
  switch (identity.architecture) {
    case 0:
      log->Write(LT_VERBOSE, LS_NONE, BC_HERE,
                 L"    - Operating system is not 64-bit but 32-bit.\r\n");
      return 0;
    case 6:
      log->Write(LT_VERBOSE, LS_NONE, BC_HERE,
                 L"    - Operating system is 64-bit IA-64 based.\r\n");
      return 1;
    case 9:
      log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"    - Operating system is 64-bit x64 based.\r\n");
      return 1;
    case 10:
      log->Write(LT_VERBOSE, LS_NONE, BC_HERE,
                 L"    - Operating system is 64-bit SysWOW64 based .\r\n");
      return 1;
    default:
      return 0;
  }
}
