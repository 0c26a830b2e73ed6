// The self-discovery report ("-d" file): the discovered devices, the versions and the action an
// update would take, as one XML document that replaces whatever the file held.
#pragma once

#include <string>

// True when the report was written whole; otherwise *failure says why, in plain words.
bool generateSelfDiscoverXML(std::string *failure = nullptr);
