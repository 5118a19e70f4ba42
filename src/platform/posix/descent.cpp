// The way down on POSIX: each level's device, inode and mount, and a
// descriptor for the top and the last few levels. A level held is climbed
// back to by fchdir; any other by "..", taken only when it is that very
// directory, or else by names from the nearest level held, each step proven
// and none through a link.
#include "platform/posix/descent.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "platform/core/listing.h"
#include "platform/core/removals.h"
#include "platform/platform.h"

namespace {

// Descriptors held below the top: enough that a climb seldom needs more than
// fchdir, few enough for any limit on open files.
constexpr size_t kHeldLevels = 16;

#ifdef O_PATH
constexpr int kPlace = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kPlace = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// way.levels[0] is the top; the process stands in way.levels.back(). Empty: not known yet.
Way<Place> way;

// Reads what `fd` holds into `place`: `fresh` asks the file system, else the
// kernel answers from what it keeps of a descriptor held.
bool Identify(int fd, bool fresh, struct stat& st, Place& place) {
  bool read = fresh ? StatusWithMount(fd, "", st, place.mount)
                    : IdentityWithMount(fd, st, place.mount);
  if (read) place.stamp = StampOf(st, place.mount);
  return read && S_ISDIR(st.st_mode);
}

// True when `fd` holds the directory `level` stands for.
bool Proven(const Fd& fd, const Place& level) {
  struct stat st;
  Place seen;
  return fd && Identify(fd.get(), false, st, seen) && seen.stamp.SameDirectory(level.stamp);
}

// Comes down to way.levels[target] from the nearest level above it that is held,
// by the names the descent took.
Climb ComeDown(size_t target) {
  size_t from = target;
  while (from > 0 && !way.levels[from].fd) --from;
  if (!way.levels[from].fd) return Climb::Unproven;
  if (from == target) return Climb::Back;
  Fd at;
  for (size_t i = from + 1; i <= target; ++i) {
    int base = at ? at.get() : way.levels[from].fd.get();
    Fd step(openat(base, way.levels[i].name.c_str(), kPlace | O_NOFOLLOW));
    bool gone = !step && errno == ENOENT;
    if (!Proven(step, way.levels[i])) return gone ? Climb::Gone : Climb::Unproven;
    at = std::move(step);
  }
  way.levels[target].fd = std::move(at);
  return Climb::Back;
}

}  // namespace

// The directory the process moved to becomes the top.
void MakeTop() {
  way.Forget();
  Place top;
  struct stat st;
  top.fd = Fd(open(".", kPlace));
  if (!top.fd || !Identify(top.fd.get(), true, st, top)) top.fd.Close();
  top.listed = true;
  way.SetTop(std::move(top));
}

Place* Here() {
  if (way.levels.empty()) MakeTop();
  return way.lost || !way.levels.back().fd ? nullptr : &way.levels.back();
}

Entry EnterSubdirectory(std::string_view name) {
  Place* here = Here();
  if (here == nullptr) return Entry::Refused;
  LeavingDirectory();
  Place level;
  level.name.assign(name);
  // Opened only as a place, never through a link: on a share, opening for
  // reading is one more round trip, which a listing read ahead does not
  // need. One that may be entered but not read is still entered.
  level.fd = Fd(openat(here->fd.get(), level.name.c_str(), kPlace | O_NOFOLLOW));
  // Gone: nothing is left there to clean. A link or a file in its place
  // cannot be reached as it was found, and is said so.
  if (!level.fd) return errno == ENOENT ? Entry::PassedOver : Entry::Refused;
  // What it is now, asked of the file system: a directory made read-only,
  // or mounted on, since it was listed is not entered.
  struct stat st;
  if (!StatusWithMount(level.fd.get(), "", st, level.mount)) return Entry::Refused;
  if (!S_ISDIR(st.st_mode)) return Entry::Refused;
  level.stamp = StampOf(st, level.mount);
  bool sameMount = SameMount(here->mount, level.mount, level.fd.get());
  Entry admitted = way.Admits(DirectoryAttributes(st, sameMount, level.name), level.stamp);
  if (admitted != Entry::Entered) return admitted;
  level.askedIn = here->aheadGroup;
  {
    StopGate gate;
    if (fchdir(level.fd.get()) != 0) return Entry::Refused;
    if (way.levels.size() > kHeldLevels) way.levels[way.levels.size() - kHeldLevels].fd.Close();
    way.Push(std::move(level));
  }
  ForgetListings();
  DropFiles();
  return Entry::Entered;
}

Climb LeaveSubdirectory() {
  if (way.levels.size() < 2) return Climb::AtTop;
  LeavingDirectory();
  DropFiles();
  ForgetListings();
  way.Pop();
  Place& up = way.levels.back();
  Climb climb = Climb::Back;
  if (!up.fd) {
    // Where the process stands in the level just left, ".." is the way up
    // unless that level was moved meanwhile.
    Fd fd(open("..", kPlace));
    if (Proven(fd, up))
      up.fd = std::move(fd);
    else
      climb = ComeDown(way.levels.size() - 1);
  }
  if (climb == Climb::Back) {
    StopGate gate;
    if (fchdir(up.fd.get()) != 0) climb = Climb::Unproven;
  }
  return way.Climbed(climb);
}

PlaceBase* CurrentPlace() { return Here(); }

WayBase& TheWay() { return way; }
