// A file system that fails or stalls on cue (faultfs, built beside the
// tests where libfuse3 is), mounted for one test:
//
//   ScopedFaultMount mount(backing, tree.PathOf("MNT"), {"--fail-readdir", "SUB:2"});
//   if (!mount.mounted()) GTEST_SKIP() << mount.why();
//
// The faults are faultfs's options: --stall-opendir NAME, --stall-getattr
// NAME, --fail-opendir NAME, --fail-getattr NAME, --fail-readdir NAME:N,
// --fail-unlink NAME, --chmod-on-unlink NAME:OTHER, NAME being a last path
// component ("/" the mount's root), and --untyped.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "tree.h"

namespace e2e {

class ScopedFaultMount {
 public:
  // Mounts faultfs over `backing` at `mountPoint`, an empty directory (which
  // may lie inside a tree a run cleans, or be the tree it runs in), and
  // waits until the mount is in place. Declare it after the trees it uses,
  // so it goes first.
  ScopedFaultMount(const ScopedTree& backing, const std::string& mountPoint,
                   const std::vector<std::string>& faults);
  // Unmount().
  ~ScopedFaultMount();
  ScopedFaultMount(const ScopedFaultMount&) = delete;
  ScopedFaultMount& operator=(const ScopedFaultMount&) = delete;

  bool mounted() const { return why_.empty(); }
  // Why there is no mount here (no FUSE, not built, mount refused): for
  // GTEST_SKIP.
  const std::string& why() const { return why_; }

  // Unmounts: cleanly when nothing is busy, else by ending the file system,
  // which answers every stalled request with an error and so frees a
  // program that sits in one. True when it unmounted cleanly.
  bool Unmount();
  // The requests of `kind` ("opendir", "getattr", "readdir" ...) served until
  // a clean Unmount; -1 before it, or after one by force.
  long Requests(const std::string& kind) const;

 private:
  bool Mounted() const;

  std::string mountPoint_;
  std::string why_;
  std::unique_ptr<ScopedTree> statsDir_;
  std::unique_ptr<BackgroundProcess> fs_;
  std::map<std::string, long> requests_;
};

}  // namespace e2e
