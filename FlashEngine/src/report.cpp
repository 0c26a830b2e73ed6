// Placeholder until the report lands.
#include "report.h"

void generateSelfDiscoverXML() {}
