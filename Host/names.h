// The names talhost prints beside every number the plug-in answers with: properties, their
// results, the installation statuses of property 5, Install's results, and talhost's exit status.
#pragma once

#include <cstdint>
#include <string>

namespace talhost {

// Property 1 "name", 3 "devices due" (the flash plug-in's installed-version text), 5
// "installation status", ...; "unknown property" for a type the host has no name for.
const char *propertyName(uint32_t type);
// A GetProperty or GetInterfaceVersion result: 1 "answered", 0 "failed".
const char *queryResultName(int32_t result);
// Property 5's status: 1 "installed version the same", 2 "installed version older", ...
const char *statusName(int32_t status);
// Install's result: 0 "failure", 1 "success", 2 "success, power cycle required".
const char *installResultName(int32_t result);
// The value of properties 6 to 8 (capability flags): 1 "yes", 0 "no".
const char *flagName(int64_t value);

// talhost's exit status.
enum Exit : int {
  kExitSuccess = 0,     // Install result 1; without Install, the plug-in answered
  kExitFailed = 1,      // Install result 0 (or one it does not define), property 5 refused or
                        // status 7 (cannot install), the plug-in could not be loaded
  kExitUsage = 2,       // a bad argument
  kExitPowerCycle = 3,  // Install result 2: success, the server must be power cycled
};

// The exit status for Install's result.
int exitForInstall(int32_t result);
// A text from outside (a file, a device) as it may go on a terminal: control characters as \xNN.
std::string printable(const std::string &text);

// The exit status for a property-5 answer when Install did not run.
int exitForStatus(int32_t queryResult, int32_t status);

}  // namespace talhost
