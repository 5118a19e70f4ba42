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

// wineserver run to its end; its output goes nowhere anyone waits on.
void RunWineServer(const std::string& option, int timeoutSeconds) {
  RunProcess({"wineserver", option}, ChildEnvironment(), "/", std::nullopt, timeoutSeconds);
}

// Debian's wine64 package puts the 64-bit loader here, off PATH.
const std::string kDebianWine64 = "/usr/lib/wine/wine64";

// The first line a failed start wrote, to say why in a message.
std::string Failure(const std::string& what, const RunResult& r) {
  std::string line = r.err.substr(0, r.err.find('\n'));
  return what + ": exit " + std::to_string(r.exitCode) + (line.empty() ? "" : ", " + line);
}

// The command that starts a Windows program under the target's loader.
// Debian's 64-bit loader comes without Wine's preloader, which keeps the
// addresses Windows programs need free; with the address space laid out at
// random, about one start in a few hundred then fails ("failed to map the
// shared user data") before the program runs. Without randomization it
// never does.
std::vector<std::string> WineCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = {target.wineLoader};
  if (target.loader64) command.insert(command.begin(), {"setarch", "x86_64", "-R"});
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

// Makes the prefix with the target's loader if it does not exist yet
// (several seconds) and starts a persistent wineserver for it, so that each
// run then starts in a few hundredths of a second. Then starts the target's
// program with /?: empty when it ran, else why it did not. Debian's wine and
// wineboot scripts always start the 32-bit loader, so the prefix too is made
// with the target's loader.
std::string WhyItCannotStart() {
  if (!Exists(target.winePrefix + "/system.reg")) {
    std::cerr << "Making the Wine prefix " << target.winePrefix << " (takes a few seconds)\n";
    // Without Mono and Gecko: their installers would ask for a download.
    RunResult made =
        RunProcess(WineCommand({"wineboot", "-i"}),
                   ChildEnvironment({"WINEDLLOVERRIDES=mscoree,mshtml="}), "/", std::nullopt, 300);
    if (made.exitCode != 0) return Failure(target.wineLoader + " wineboot", made);
    // The registry is written out when the server that wineboot started
    // ends; wait for that before starting one that stays.
    RunWineServer("-w", 120);
    if (!Exists(target.winePrefix + "/system.reg"))
      return "wineboot made no prefix at " + target.winePrefix;
  }
  // Stays between runs, and ends by itself two minutes after the last one
  // should this program die before StopTarget. Fails when a server for the
  // prefix is already running; that one serves.
  RunWineServer("-p120", 60);
  RunResult help =
      RunProcess(CommandFor(target.kelvo, {"/?"}), ChildEnvironment(), "/", std::nullopt, 60);
  if (help.exitCode == 0 && help.out.find("/?") != std::string::npos) return {};
  return Failure(target.wineLoader + " " + BaseNameOf(target.kelvo) + " /?", help);
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
    } else if (arg.starts_with("--read-ahead=")) {
      target.readAhead = arg.substr(13);
    } else if (arg.starts_with("--kelvo64=")) {
      target.kelvo64 = arg.substr(10);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (target.kelvo.empty() || (target.wine && target.winePrefix.empty()) ||
      (target.readAhead != "0" && target.readAhead != "1")) {
    std::cerr << "usage: " << argv[0]
              << " --kelvo=PATH --read-ahead=0|1 [--wine --wineprefix=DIR [--kelvo64=PATH]]"
                 " [gtest flags]\n";
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
  // Read ahead as on a share, or not at all as on a local disk, whatever
  // file system the test trees lie on.
  std::vector<std::string> all = {"KELVO_READ_AHEAD=" + target.readAhead};
  if (target.wine) {
    // No window may open: a run that could not start one would hang.
    all.insert(all.end(),
               {"WINEPREFIX=" + target.winePrefix, "WINEDEBUG=-all", "DISPLAY", "WAYLAND_DISPLAY"});
    // A loader named by its path also starts the processes Wine starts.
    if (target.wineLoader != "wine") all.push_back("WINELOADER=" + target.wineLoader);
  } else {
    // Byte-exact output is the C locale's; and no companion file of the
    // machine's own configuration may join a run's.
    all.insert(all.end(), {"LC_ALL=C", "XDG_CONFIG_HOME=/nonexistent", "XDG_CONFIG_DIRS=/nonexistent"});
  }
  all.insert(all.end(), changes.begin(), changes.end());
  return EnvironmentWith(all);
}

std::vector<std::string> CommandFor(const std::string& binary,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> command = {binary};
  command.insert(command.end(), args.begin(), args.end());
  return target.wine ? WineCommand(command) : command;
}

bool StartTarget() {
  if (!target.wine) return true;
  const char* loader32 = getenv("KELVO_WINE32_LOADER");
  target.wineLoader = loader32 != nullptr && *loader32 != '\0' ? loader32 : "wine";
  // Wine's 32-bit loader is itself a 32-bit program: where it starts, the
  // i686 build is tested, whatever that build then does.
  RunResult loaded =
      RunProcess({target.wineLoader, "--version"}, ChildEnvironment(), "/", std::nullopt, 60);
  const auto useX86_64 = [] {
    target.kelvo = target.kelvo64;
    target.wineLoader = Exists(kDebianWine64) ? kDebianWine64 : "wine64";
    target.loader64 = true;
  };
  const auto cannotStart = [] {
    return target.kelvo.empty()    ? std::string("no x86_64 build given (--kelvo64)")
           : !Exists(target.kelvo) ? "no program at " + target.kelvo
                                   : WhyItCannotStart();
  };
  std::string choice = "32-bit programs start here: testing the i686 build";
  if (loaded.exitCode != 0) {
    choice = "32-bit programs cannot start here (" +
             Failure(target.wineLoader + " --version", loaded) +
             "): testing the x86_64 build of the same sources";
    useX86_64();
  }
  std::string cannot = cannotStart();
  // Debian's wine answers --version without its 32-bit part installed, and
  // then starts no i686 program.
  if (!cannot.empty() && !target.loader64 && !target.kelvo64.empty()) {
    choice = "the i686 build cannot start here (" + cannot +
             "): testing the x86_64 build of the same sources";
    RunWineServer("-k", 60);
    useX86_64();
    cannot = cannotStart();
  }
  std::cout << "Under Wine: " << choice << (target.kelvo.empty() ? "" : ", " + target.kelvo)
            << "\n";
  if (!cannot.empty()) std::cerr << "Under Wine this build cannot start: " << cannot << "\n";
  return cannot.empty();
}

void StopTarget() {
  if (target.wine) RunWineServer("-k", 60);
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
  return RunProcess(CommandFor(binary, options.args), ChildEnvironment(options.env), dir.path(),
                    options.keys, kRunSeconds);
}

}  // namespace e2e
