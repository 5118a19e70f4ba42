// The way down on POSIX: each level's device and inode, and a descriptor for
// the top and the last few levels. A level held is climbed back to by fchdir;
// any other by "..", taken only when it is that very directory, or else by
// names from the nearest level held, each step proven and none through a
// link.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/descent.h"
#include "platform/posix/listing.h"
#include "platform/core/listing.h"
#include "platform/platform.h"

namespace {

struct Level {
  std::string name;  // as entered from the level above; empty at the top
  dev_t device = 0;
  ino_t inode = 0;
  int fd = -1;
};

// Descriptors held below the top: enough that a climb seldom needs more than
// fchdir, few enough for any limit on open files.
constexpr size_t kHeldLevels = 16;

#ifdef O_PATH
constexpr int kReference = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kReference = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

std::vector<Level> way;

void LetGo(Level& level) {
  if (level.fd >= 0) close(level.fd);
  level.fd = -1;
}

// `fd` is the directory `level` stands for; closed when it is not.
bool Proven(int fd, const Level& level) {
  struct stat st;
  MountTag mount;
  if (fd >= 0 && IdentityWithMount(fd, st, mount) && st.st_dev == level.device &&
      st.st_ino == level.inode)
    return true;
  if (fd >= 0) close(fd);
  return false;
}

// Comes down to way[target] from the nearest level above it that is held,
// by the names the descent took.
Climb ComeDown(size_t target) {
  size_t from = target;
  while (from > 0 && way[from].fd < 0) --from;
  if (way[from].fd < 0) return Climb::Unproven;
  int at = way[from].fd;
  for (size_t i = from + 1; i <= target; ++i) {
    int fd = openat(at, way[i].name.c_str(), kReference | O_NOFOLLOW);
    bool gone = fd < 0 && errno == ENOENT;
    if (at != way[from].fd) close(at);
    if (!Proven(fd, way[i])) return gone ? Climb::Gone : Climb::Unproven;
    at = fd;
  }
  way[target].fd = at;
  return Climb::Back;
}

}  // namespace

void BeginDescent() {
  EndDescent();
  Level& top = way.emplace_back();
  top.fd = open(".", kReference);
  struct stat st;
  if (top.fd >= 0 && fstat(top.fd, &st) == 0) {
    top.device = st.st_dev;
    top.inode = st.st_ino;
  } else {
    LetGo(top);
  }
}

void EndDescent() {
  for (Level& level : way) LetGo(level);
  way.clear();
}

void NoteLevelEntered(std::string_view name, const struct stat& st, int fd) {
  if (way.empty()) {
    if (fd >= 0) close(fd);
    return;
  }
  if (way.size() > kHeldLevels) LetGo(way[way.size() - kHeldLevels]);
  way.push_back(Level{std::string(name), st.st_dev, st.st_ino, fd});
}

Climb LeaveSubdirectory() {
  if (way.size() < 2) return Climb::Unproven;
  LetGo(way.back());
  way.pop_back();
  Level& up = way.back();
  Climb climb = Climb::Back;
  if (up.fd < 0) {
    // Where the process stands in the level just left, ".." is the way up
    // unless that level was moved meanwhile.
    int fd = open("..", kReference);
    if (Proven(fd, up))
      up.fd = fd;
    else
      climb = ComeDown(way.size() - 1);
  }
  if (climb == Climb::Back && fchdir(up.fd) != 0) climb = Climb::Unproven;
  if (climb != Climb::Back) return climb;
  ForgetListings();
  HoldCurrentDirectory(-1);
  return Climb::Back;
}
