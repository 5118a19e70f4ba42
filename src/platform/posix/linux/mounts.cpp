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

#include "platform/posix/fd.h"
#include "platform/posix/linux/mounts.h"

void FromStatx(const struct statx& sx, struct stat& st, MountTag& tag) {
  st = {};
  st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  st.st_ino = sx.stx_ino;
  st.st_mode = sx.stx_mode;
  st.st_nlink = sx.stx_nlink;
  st.st_uid = sx.stx_uid;
  st.st_gid = sx.stx_gid;
  st.st_size = static_cast<off_t>(sx.stx_size);
  st.st_ctim = {static_cast<time_t>(sx.stx_ctime.tv_sec), static_cast<long>(sx.stx_ctime.tv_nsec)};
  st.st_mtim = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
  // A kernel older than mount IDs leaves the field as it was.
  tag.mountKnown = (sx.stx_mask & STATX_MNT_ID) != 0;
  tag.mount = sx.stx_mnt_id;
  tag.device = st.st_dev;
}

namespace {

bool Status(int at, const char* path, int sync, struct stat& st, MountTag& tag) {
  // An automount point is told apart without being mounted.
  int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (path[0] == '\0' ? AT_EMPTY_PATH : 0);
  struct statx sx;
  if (statx(at, path, flags | sync, STATX_BASIC_STATS | STATX_MNT_ID, &sx) == 0) {
    FromStatx(sx, st, tag);
    return true;
  }
  if (errno != ENOSYS) return false;
  if (fstatat(at, path, &st, flags) != 0) return false;
  tag.mountKnown = false;
  tag.device = st.st_dev;
  return true;
}

}  // namespace

bool StatusWithMount(int at, const char* path, struct stat& st, MountTag& tag) {
  return Status(at, path, AT_STATX_SYNC_AS_STAT, st, tag);
}

bool IdentityWithMount(int fd, struct stat& st, MountTag& tag) {
  return Status(fd, "", AT_STATX_DONT_SYNC, st, tag);
}

namespace {

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

}  // namespace

bool ParseMountInfoLine(const char* line, MountPoint& point) {
  // The mount ID, its parent's, the device, the root of the mount within
  // its file system, then the mount point.
  unsigned major = 0, minor = 0;
  char mountPoint[4096];
  if (sscanf(line, "%*s %*s %u:%u %*s %4095s", &major, &minor, mountPoint) != 3) return false;
  point = {makedev(major, minor), Unescaped(mountPoint)};
  return true;
}

namespace {

std::vector<MountPoint> ReadMountTable() {
  std::vector<MountPoint> points;
  FILE* table = fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return points;
  char line[4096];
  MountPoint point;
  while (fgets(line, sizeof line, table) != nullptr)
    if (ParseMountInfoLine(line, point)) points.push_back(point);
  fclose(table);
  return points;
}

// The mount table, read once per run (by whichever thread asks first),
// where the kernel tells no mount IDs.
const std::vector<MountPoint>& MountPoints() {
  static const std::vector<MountPoint> points = ReadMountTable();
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

bool SameMount(const MountTag& parent, const MountTag& child, int childFd) {
  return SameMountBy(parent, child, [&] { return IsMountPointOf(child.device, childFd); });
}

DirectoryStamp StampOf(const struct stat& st, const MountTag& mount) {
  DirectoryStamp stamp;
  stamp.volume = st.st_dev;
  stamp.index = st.st_ino;
  stamp.mount = mount.mountKnown ? mount.mount : 0;
  stamp.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

bool OnMountOf(const MountTag& parent, const MountTag& child, int at, const char* path) {
  // Opened only where the mount table must be asked; what cannot be opened
  // is taken for a mount point.
  return SameMountBy(parent, child, [&] {
    if (path[0] == '\0') return IsMountPointOf(child.device, at);
    Fd fd(openat(at, path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return !fd || IsMountPointOf(child.device, fd.get());
  });
}
