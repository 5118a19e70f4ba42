// The parts of the mount test that ask the system nothing: what a statx
// result tells of the mount, what a line of the mount table names, and how
// the two are weighed where the kernel gives no mount IDs. Internal to the
// Linux backend.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/posix/listing.h"

struct MountPoint {
  dev_t device;
  std::string path;
};

// Fills `st` and `tag` from a statx result: the mount ID is known only where
// the result's mask says the kernel gave it.
void FromStatx(const struct statx& sx, struct stat& st, MountTag& tag);

// Reads a line of /proc/self/mountinfo into `point`: its device and its
// mount point, unescaped. Returns false for a line that holds neither.
bool ParseMountInfoLine(const char* line, MountPoint& point);

// Returns true when `child` lies on `parent`'s mount: by their mount IDs
// where the kernel gave both, else when their devices are the same and
// `isMountPoint()`, asked only then, says the child is no mount point.
template <typename IsMountPoint>
bool SameMountBy(const MountTag& parent, const MountTag& child, IsMountPoint isMountPoint) {
  if (parent.mountKnown && child.mountKnown) return parent.mount == child.mount;
  return parent.device == child.device && !isMountPoint();
}
