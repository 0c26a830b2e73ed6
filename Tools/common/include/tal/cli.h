// The command-line convention every tool of the project keeps: --help prints the usage on standard
// output and exits 0; --version prints "<tool> <version>" (the version the version resources carry)
// and exits 0; a usage error names the bad argument on standard error and exits 2.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tal_version.h"

namespace tal::cli {

// Exit status for an argument the tool cannot take.
constexpr int kUsageError = 2;

// The project's version, as the version resources and --version give it.
inline const char *version() { return TAL_VERSION_TEXT; }

// Adds --version to an app (--help is CLI11's own) and reads "/x" as an argument, not as an
// option, on Windows too (a path such as /tmp/x). Call it before adding subcommands, which take
// their parent's settings when they are made.
inline void addVersion(CLI::App &app) {
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string(app.get_name()) + " " + version(),
                       "print the version and exit");
}

// Parses the arguments (UTF-8, without the program name). Returns -1 when the tool should go on,
// otherwise the status it should exit with (0 after --help or --version, 2 after a usage error).
inline int parse(CLI::App &app, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes a vector from the back
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp &) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForAllHelp &) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion &e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError &e) {
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for the usage.\n", app.get_name().c_str(),
                 e.what(), app.get_name().c_str());
    return kUsageError;
  }
  return -1;
}

// The same for main's arguments.
inline int parse(CLI::App &app, int argc, char **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return parse(app, std::move(args));
}

}  // namespace tal::cli
