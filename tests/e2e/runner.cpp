#include "runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

namespace e2e {
namespace {

Target target;

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A Wine helper (wineboot, wineserver) run to its end; its output goes
// nowhere anyone waits on, and is shown when `report` and it fails.
bool RunWineTool(const std::vector<std::string>& argv, const std::vector<std::string>& changes,
                 int timeoutSeconds, bool report = false) {
  RunResult r = RunProcess(argv, ChildEnvironment(changes), "/", std::nullopt, timeoutSeconds);
  if (report && r.exitCode != 0)
    std::cerr << argv[0] << " " << argv[1] << ": exit " << r.exitCode << "\n" << r.err << "\n";
  return r.exitCode == 0;
}

}  // namespace

bool ParseTarget(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.starts_with("--kelvo=")) {
      target.kelvo = arg.substr(8);
    } else if (arg == "--wine") {
      target.wine = true;
    } else if (arg.starts_with("--wineprefix=")) {
      target.winePrefix = arg.substr(13);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (target.kelvo.empty() || (target.wine && target.winePrefix.empty())) {
    std::cerr << "usage: " << argv[0] << " --kelvo=PATH [--wine --wineprefix=DIR] [gtest flags]\n";
    return false;
  }
  if (!Exists(target.kelvo)) {
    std::cerr << "no program to test at " << target.kelvo << "\n";
    return false;
  }
  return true;
}

const Target& TheTarget() { return target; }

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> all;
  if (target.wine) {
    // No window may open: a run that could not start one would hang.
    all = {"WINEPREFIX=" + target.winePrefix, "WINEDEBUG=-all", "DISPLAY", "WAYLAND_DISPLAY"};
  } else {
    // Byte-exact output is the C locale's; and no companion file of the
    // machine's own configuration may join a run's.
    all = {"LC_ALL=C", "XDG_CONFIG_HOME=/nonexistent", "XDG_CONFIG_DIRS=/nonexistent"};
  }
  all.insert(all.end(), changes.begin(), changes.end());
  return EnvironmentWith(all);
}

std::vector<std::string> CommandFor(const std::string& binary,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> command;
  if (target.wine) command.push_back("wine");
  command.push_back(binary);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

bool StartTarget() {
  if (!target.wine) return true;
  if (!Exists(target.winePrefix + "/system.reg")) {
    std::cerr << "Making the Wine prefix " << target.winePrefix << " (takes a few seconds)\n";
    // Without Mono and Gecko: their installers would ask for a download.
    if (!RunWineTool({"wineboot", "-i"}, {"WINEDLLOVERRIDES=mscoree,mshtml="}, 300, true))
      return false;
    // The registry is written out when the server that wineboot started
    // ends; wait for that before starting one that stays.
    RunWineTool({"wineserver", "-w"}, {}, 120);
    if (!Exists(target.winePrefix + "/system.reg")) {
      std::cerr << "wineboot made no prefix at " << target.winePrefix << "\n";
      return false;
    }
  }
  // Stays between runs, and ends by itself two minutes after the last one
  // should this program die before StopTarget. Fails when a server for the
  // prefix is already running; that one serves.
  RunWineTool({"wineserver", "-p120"}, {}, 60);
  return true;
}

void StopTarget() {
  if (target.wine) RunWineTool({"wineserver", "-k"}, {}, 60);
}

std::vector<std::string> CommandAsUnprivileged(const ScopedTree& tree,
                                               const std::vector<std::string>& args) {
  std::vector<std::string> command = CommandFor(target.kelvo, args);
  if (geteuid() != 0) return command;
  // Root passes every permission check; nobody, owning the tree, does not.
  RunResult given = RunProcess({"chown", "-R", "65534:65534", tree.path()}, EnvironmentWith({}),
                               "/", std::nullopt, 30);
  EXPECT_EQ(given.exitCode, 0) << given.err;
  command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return command;
}

RunResult RunKelvo(const ScopedTree& dir, const RunOptions& options) {
  std::string binary = target.kelvo;
  std::optional<ScopedTree> home;
  if (!options.companions.empty()) {
    home.emplace(options.companions);
    binary = home->PathOf(BaseNameOf(target.kelvo));
    std::filesystem::copy_file(target.kelvo, binary);
  }
  RunResult result = RunProcess(CommandFor(binary, options.args), ChildEnvironment(options.env),
                                dir.path(), options.keys, 30);
  EXPECT_EQ(result.err.find("[killed after"), std::string::npos) << "the run did not end:\n"
                                                                 << result.err;
  return result;
}

}  // namespace e2e
