// The limits every Expat parser of the system runs with, set where the parser is created (both
// XML layers: the engine's tree and the framework's package reader). The files read are small
// package and configuration files from outside: a document whose entities expand to far more than
// the document itself, or that makes the parser allocate far more than it reads, is refused
// rather than let grow.
#pragma once

#include <expat.h>

#include "xmlerror.h"

namespace tal::xml {

// Entity expansion: past the first 1 MiB of output, at most 20 bytes out per byte read.
constexpr float kMaxEntityAmplification = 20.0f;
constexpr unsigned long long kEntityActivationBytes = 1ull << 20;
// The parser's own allocations: past the first 32 MiB, at most 100 bytes per byte read.
constexpr float kMaxAllocationAmplification = 100.0f;
constexpr unsigned long long kAllocationActivationBytes = 32ull << 20;

// Sets the four limits on a new parser; false when the library refused one (the parser is then
// not used).
inline bool applyParserLimits(XML_Parser parser) {
  return parser != nullptr &&
         XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser,
                                                                  kMaxEntityAmplification) &&
         XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, kEntityActivationBytes) &&
         XML_SetAllocTrackerMaximumAmplification(parser, kMaxAllocationAmplification) &&
         XML_SetAllocTrackerActivationThreshold(parser, kAllocationActivationBytes);
}

// The parser's position and name for its first error.
inline ParseError parseErrorOf(XML_Parser parser) {
  ParseError e;
  e.line = static_cast<unsigned long>(XML_GetCurrentLineNumber(parser));
  e.column = static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)) + 1;
  const XML_LChar *text = XML_ErrorString(XML_GetErrorCode(parser));
  e.text = text ? text : "not well-formed";
  return e;
}

}  // namespace tal::xml
