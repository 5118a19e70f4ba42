#include "fuse_mount.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace e2e {
namespace {

// Longer than any test that mounts one: a program left in a stalled request
// (which no signal ends) is freed by then even if the test never unmounts.
constexpr int kLifetimeSeconds = 120;

// Runs a command that must not hang: `fusermount3` and the like.
bool Succeeds(const std::vector<std::string>& argv) {
  return RunProcess(argv, EnvironmentWith({}), "/", std::nullopt, 10).exitCode == 0;
}

}  // namespace

ScopedFaultMount::ScopedFaultMount(const ScopedTree& backing, const std::string& mountPoint,
                                   const std::vector<std::string>& faults)
    : mountPoint_(mountPoint) {
#ifndef KELVO_FAULTFS
  why_ = "faultfs was not built: no libfuse3 (pkg-config fuse3) where the tests were configured";
  (void)backing;
  (void)faults;
#else
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    why_ = "no FUSE here: /dev/fuse cannot be opened";
    return;
  }
  statsDir_ = std::make_unique<ScopedTree>();
  std::vector<std::string> argv = {KELVO_FAULTFS,
                                   backing.path(),
                                   mountPoint,
                                   "--stats",
                                   statsDir_->PathOf("stats"),
                                   "--lifetime",
                                   std::to_string(kLifetimeSeconds)};
  argv.insert(argv.end(), faults.begin(), faults.end());
  fs_ = std::make_unique<BackgroundProcess>(argv, EnvironmentWith({}), "/");
  const auto late = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Mounted()) {
    if (fs_->WaitUntilEnded(0.02) || std::chrono::steady_clock::now() > late) {
      RunResult refused = fs_->Finish(1);
      why_ = "FUSE mount refused at " + mountPoint + ": " + refused.err;
      fs_.reset();
      return;
    }
  }
#endif
}

ScopedFaultMount::~ScopedFaultMount() { Unmount(); }

bool ScopedFaultMount::Mounted() const {
  std::ifstream mounts("/proc/self/mounts");
  const std::string wanted = " " + mountPoint_ + " fuse.faultfs ";
  for (std::string line; std::getline(mounts, line);)
    if (line.find(wanted) != std::string::npos) return true;
  return false;
}

bool ScopedFaultMount::Unmount() {
  if (!fs_) return false;
  bool clean = Succeeds({"fusermount3", "-u", mountPoint_}) && fs_->WaitUntilEnded(10);
  if (!clean) {
    // Busy, or a request stalls: a file system that ends aborts its
    // connection, and the mount, dead, can then only be detached.
    kill(fs_->pid(), SIGKILL);
    fs_->WaitUntilEnded(10);
    if (Mounted()) Succeeds({"fusermount3", "-u", "-z", mountPoint_});
  }
  RunResult ended = fs_->Finish(1);
  fs_.reset();
  if (clean) {
    std::ifstream stats(statsDir_->PathOf("stats"));
    std::string kind;
    for (long count; stats >> kind >> count;) requests_[kind] = count;
  }
  return clean;
}

long ScopedFaultMount::Requests(const std::string& kind) const {
  auto found = requests_.find(kind);
  return found == requests_.end() ? -1 : found->second;
}

}  // namespace e2e
