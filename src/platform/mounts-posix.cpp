// Whether a subdirectory lies on its parent's mount. A device number alone
// cannot tell: a bind mount of a directory of the same file system keeps it.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/listing-posix.h"

namespace {

struct Where {
  uint64_t mount = 0;
  bool mountKnown = false;
  dev_t device = 0;
};

bool Locate(int at, const char* path, Where& where) {
  // An automount point is told apart without being mounted.
  int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (path[0] == '\0' ? AT_EMPTY_PATH : 0);
  struct statx sx;
  if (statx(at, path, flags, STATX_TYPE | STATX_MNT_ID, &sx) == 0) {
    where.mountKnown = (sx.stx_mask & STATX_MNT_ID) != 0;
    where.mount = sx.stx_mnt_id;
    where.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    return true;
  }
  if (errno != ENOSYS) return false;
  struct stat st;
  if (fstatat(at, path, &st, flags) != 0) return false;
  where.device = st.st_dev;
  return true;
}

struct MountPoint {
  dev_t device;
  std::string path;
};

// mountinfo writes a space, TAB, newline and backslash in a path as \ooo.
std::string Unescaped(const std::string& field) {
  std::string path;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
      path += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      path += field[i];
    }
  }
  return path;
}

// The mount table, read once per run, where the kernel tells no mount IDs.
const std::vector<MountPoint>& MountPoints() {
  static std::vector<MountPoint> points;
  static bool read = false;
  if (read) return points;
  read = true;
  FILE* table = fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return points;
  char line[4096];
  while (fgets(line, sizeof line, table) != nullptr) {
    unsigned major = 0, minor = 0;
    char mountPoint[4096];
    if (sscanf(line, "%*s %*s %u:%u %*s %4095s", &major, &minor, mountPoint) == 3)
      points.push_back({makedev(major, minor), Unescaped(mountPoint)});
  }
  fclose(table);
  return points;
}

// A directory of `device` on which something is mounted: where several
// mounts show that device, the directory's own path is looked up among them.
bool IsMountPointOf(dev_t device, int fd) {
  int mounts = 0;
  for (const MountPoint& point : MountPoints()) mounts += point.device == device;
  if (mounts < 2) return false;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  ssize_t n = readlink(link, target, sizeof target);
  // Unknown is taken for a mount point: a directory not entered is safe.
  if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) return true;
  std::string path(target, static_cast<size_t>(n));
  for (const MountPoint& point : MountPoints())
    if (point.device == device && point.path == path) return true;
  return false;
}

}  // namespace

bool OnSameMount(int parentAt, const char* parent, int childAt, const char* child) {
  Where up, down;
  if (!Locate(parentAt, parent, up) || !Locate(childAt, child, down)) return false;
  if (up.mountKnown && down.mountKnown) return up.mount == down.mount;
  if (up.device != down.device) return false;
  if (child[0] == '\0') return !IsMountPointOf(down.device, childAt);
  int fd = openat(childAt, child, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool same = !IsMountPointOf(down.device, fd);
  close(fd);
  return same;
}
