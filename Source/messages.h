// The framework's localised message tables and the host's language code.
#pragma once

// Six texts of one message, columns in this order: English, French, Italian, German, Spanish,
// Japanese.
struct MessageTable {
  const wchar_t *text[6];
};

// The column of a two-letter language code, compared ignoring case: "fr" 1, "it" 2, "de" 3,
// "es" 4, "ja" 5, anything else (null too) 0.
int LanguageIndex(const wchar_t *lang);
// The column that LanguageIndex gives, whatever its text (the pre-installation checks).
const wchar_t *DirectMessage(const MessageTable &table, const wchar_t *lang);
// The language's own column only for Japanese with a non-empty text, else the English column
// (the installation paths).
const wchar_t *LookupMessage(const MessageTable &table, const wchar_t *lang);

extern const MessageTable unknownInfType;
extern const MessageTable osNotSupported;
extern const MessageTable notEnoughDiskSpace;
extern const MessageTable markedForRemoval;
extern const MessageTable noSupportedDevices;
extern const MessageTable installationError;
extern const MessageTable noDevicesFound;
extern const MessageTable failedOnDevice;
extern const MessageTable shellOpenFailed;

// The system-model check's one text (English only).
extern const wchar_t kSystemModelNotSupported[];
