#pragma once

// Where Vantorel keeps linkledger.db and set.ini.
//
// A portable copy keeps its files beside the program, so that the whole
// install moves as one folder. An installed copy cannot (its directory belongs to the
// system), so it falls back to the user's data directory. Both front ends call
// the same function so that the app and the command line always agree on
// which ledger they use.

#include "base/expected.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

// Reads one environment variable; nullopt when it is not set. Passed in so
// that the rule can be tested without touching the process environment.
using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The lookup over the real process environment.
EnvLookup processEnvironment();

// Decides the data directory, first match wins:
//   1. `option` (the --data-dir value) when given;
//   2. VANTOREL_DATA_DIR when set and not empty;
//   3. `programDir` when it exists and is writable. An installed copy (under
//      /usr, /bin or /sbin) never counts as portable, so that running it as
//      root does not scatter files among the system's programs;
//   4. $XDG_DATA_HOME/vantorel, or ~/.local/share/vantorel when XDG_DATA_HOME
//      is unset, empty or relative (on Windows %LOCALAPPDATA%\Vantorel).
// The chosen directory is created when missing and returned as an absolute
// path. An explicit choice (1 or 2) that cannot be made is an error rather
// than a silent fall-through, so that a mistyped path never leads to a
// second, empty ledger. An empty `option` is an error for the same reason.
Expected<std::filesystem::path>
resolveDataDir(const std::optional<std::filesystem::path>& option, const EnvLookup& env,
               const std::optional<std::filesystem::path>& programDir);

// The same rule over the real environment and the running program's
// directory; `argv0` only helps where the platform cannot name the program.
Expected<std::filesystem::path> resolveDataDir(const std::optional<std::filesystem::path>& option,
                                               const char* argv0 = nullptr);

// The directory of the running program's file, symbolic links resolved.
// Uses the platform's own answer (/proc/self/exe on Linux); only where there
// is none does it fall back to `argv0` (absolute, relative, or searched on
// PATH).
Expected<std::filesystem::path> programDirectory(const char* argv0 = nullptr);

} // namespace vantorel
