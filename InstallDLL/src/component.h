// FlashComponent: the plug-in's one component. A CBaseComponent whose installation-state value,
// property-3 text and installation step come from the firmware flash engine; everything else the
// host asks is answered by the base class.
// The plug-in's binding (boundary.h) creates it and adds the engine around the base answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "basecomp.h"
#include "boundary.h"

class FlashComponent : public CBaseComponent {
 public:
  explicit FlashComponent(void *module);
  ~FlashComponent() override;

  // Slot 6: flashes the marked devices and appends the result text after the buffer's contents.
  int32_t Install(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                  const wchar_t *lang) override;
  // Slot 13: the engine's list of devices to be updated, delivered once per process.
  int32_t GetInstalledVersion(wchar_t *out, uint32_t size) override;
  // Slot 25: the flash component has no requirements of its own.
  int32_t CheckComponentRequirements(wchar_t *out, uint32_t size, const wchar_t *lang) override;

  // The installation-state value of property 5, from the engine's state.
  int32_t GetInstallationState();
  // Gives the flash engine the component's current log.
  void AttachEngineLog();

  void *Module() const { return module_; }

 private:
  void *module_;
};

// The one component of the process (attach to detach), or null.
FlashComponent *TheComponent();

// The property-3 once-flag (set at load; cleared when the update list has been delivered).
bool UpdateListPending();
// The property-3 delivery: the engine's update list (ANSI) converted into `out` whole with its
// terminator, only while the once-flag is set; the flag is cleared when the text was delivered.
void DeliverUpdateList(const char *list, wchar_t *out, uint32_t size);

// The engine's installation-state code as the property-5 value (1, 2, 3, 6 or 7), without the
// engine calls; and the Install result text (null: nothing appended) and result of an engine
// flash code.
int32_t InstallationStateFromEngine(int engineCode);
const wchar_t *InstallResultText(int engineCode);
int32_t InstallResultFromEngine(int engineCode);

// The most the Install result text grows to with the detail lines: the buffer's text stays
// shorter than this many characters (1023 characters and the terminator). The table's line
// itself is always appended, as the host contract has it (at most 110 characters).
constexpr size_t kResultTextChars = 1024;
// Appends the table's line (null: none) and then the detail lines (each ending in "\r\n"), whole
// lines only, while the text stays within kResultTextChars; lines that do not fit are counted in
// a closing line "(N more lines in the component log)".
void AppendResultText(wchar_t *buffer, const wchar_t *first, const std::wstring &detail);
