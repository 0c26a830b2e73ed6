// What talsim says of channel captures: a summary of one (what it reached, what it asked, what
// went wrong), and the first difference between two, so that the simulator's answers can be held
// to a capture made on a real management processor.
#pragma once

#include <string>

#include "sim/replay.h"

namespace sim {

// The summary as text lines: the plug-in version, when and how long, the calls by kind, the
// processor commands by kind, the devices (segment and address) reached and those that did not
// answer, the errors by kind, and the SMBIOS table's product name and card records. Texts from
// the capture are shown with their control characters replaced.
std::string summarizeCapture(const Capture &capture);

// The first call at which `actual` differs from `reference`: another kind of call, another
// request (the sequence number aside), another receive capacity or wait, another result, status
// or count, or another response (the sequence number it echoes aside); or one capture ending
// before the other. Empty when they agree call for call. The text is one line:
//   capture differs at call N (reference line L, line M): expected ...; got ...
std::string compareCaptures(const Capture &reference, const Capture &actual);

}  // namespace sim
