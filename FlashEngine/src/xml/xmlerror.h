#pragma once

#include <string>

namespace tal::xml {

// Where and why a parse stopped, for a package author's tools: the line and column (both from 1)
// of the parser's position at its first error, and its name for the error. The readers keep it
// beside their result and never act on it.
struct ParseError {
  unsigned long line = 0;  // 0: no position (the file could not be read, or a callback failed)
  unsigned long column = 0;
  std::string text;
};

}  // namespace tal::xml
