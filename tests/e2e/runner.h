// Starts the build under test: the native kelvo, or kelvo.exe under Wine.
// Which one is chosen once, on the test program's command line:
//   e2e_tests --kelvo=PATH --read-ahead=0|1 [--wine --wineprefix=DIR [--kelvo64=PATH]]
// --read-ahead says whether the runs read ahead as on a share (1) or not, as
// on a local disk (0): ctest runs the whole suite both ways.
// Under Wine the i686 kelvo.exe is tested where Wine's 32-bit loader starts,
// else the x86_64 build of --kelvo64 under wine64 (some kernels start no
// 32-bit programs). KELVO_WINE32_LOADER names that loader (default wine):
// /bin/false there takes the x86_64 path on any machine.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "process.h"
#include "tree.h"

namespace e2e {

struct Target {
  std::string kelvo;                // the binary under test
  bool wine = false;                // run it under Wine
  std::string winePrefix;           // private Wine prefix, made on first use
  std::string kelvo64;              // the x86_64 build, where kelvo cannot start
  std::string wineLoader = "wine";  // the loader that starts kelvo
  bool loader64 = false;            // it is Wine's 64-bit loader
  std::string readAhead;            // KELVO_READ_AHEAD for every run: "0" or "1"
};

// Takes --kelvo, --wine, --wineprefix and --kelvo64 out of argv; false (with a
// message on stderr) when they are missing or wrong.
bool ParseTarget(int& argc, char** argv);
const Target& TheTarget();
inline bool UnderWine() { return TheTarget().wine; }
inline bool ReadingAhead() { return TheTarget().readAhead == "1"; }

// Under Wine: chooses the Windows build and says which and why on standard
// output; makes the prefix if it does not exist yet (wineboot, several
// seconds) and starts a persistent wineserver for it, so that each run then
// starts in a few hundredths of a second. Natively nothing. False, with the
// reason on stderr, when the build chosen does not start.
bool StartTarget();
// Stops what StartTarget started.
void StopTarget();

// The environment for a child that runs the build under test (Wine's
// variables added when under Wine; natively the C locale and configuration
// directories that do not exist), with `changes` as in EnvironmentWith.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes = {});
// The command line that starts the build under test with `args`.
std::vector<std::string> CommandFor(const std::string& binary,
                                    const std::vector<std::string>& args);

// The command that runs the build under test with `args` as a user whom
// permissions stop: as it is when the suite runs unprivileged; as root,
// under setpriv as nobody, to whom `tree` is then given.
std::vector<std::string> CommandAsUnprivileged(const ScopedTree& tree,
                                               const std::vector<std::string>& args);

struct RunOptions {
  std::vector<std::string> args;
  // Standard input: these bytes; none: /dev/null.
  std::optional<std::string> keys;
  // Files to lay beside the program, in ScopedTree notation (for instance
  // "KELVO.TAB=*.BAK\r\n"). When there are any, the program runs as a copy
  // in a directory of its own, under its original file name.
  std::vector<std::string> companions;
  // Changes to the child's environment, as in EnvironmentWith.
  std::vector<std::string> env;

  RunOptions& WithArgs(std::vector<std::string> list) {
    args = std::move(list);
    return *this;
  }
  RunOptions& WithCompanions(std::vector<std::string> files) {
    companions = std::move(files);
    return *this;
  }
};

// Options for a run that answers with these keys: RunKelvo(tree, Keys("yn")).
inline RunOptions Keys(std::string keys) {
  RunOptions options;
  options.keys = std::move(keys);
  return options;
}

// Runs the build under test with `dir` as its current directory. Output
// goes to files, not pipes: processes Wine starts may hold a pipe open. A run
// that outlasts kRunSeconds is killed and fails the test.
RunResult RunKelvo(const ScopedTree& dir, const RunOptions& options = {});

}  // namespace e2e
