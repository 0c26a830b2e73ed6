// The self-discovery report ("-d" file): the discovered devices, the versions and the action an
// update would take, as XML appended to the report file.
#pragma once

void generateSelfDiscoverXML();
