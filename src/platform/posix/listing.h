// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the mount a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/readahead.h"

// What tells a mount: its mount ID where the kernel gives one, else the
// device, with the mount table to tell a mount point of the same device.
struct MountTag {
  uint64_t mount = 0;
  bool mountKnown = false;
  dev_t device = 0;
};

// The status of `path` (relative to the descriptor `at`, or `at` itself
// where `path` is ""), a link not followed, and its mount: one request.
bool StatusWithMount(int at, const char* path, struct stat& st, MountTag& tag);
// The device, inode, type and mount of what `fd` holds, as the kernel keeps
// them: none of them can change while it is held, so a file system whose
// attributes live on a server is not asked.
bool IdentityWithMount(int fd, struct stat& st, MountTag& tag);

// True when `child`, the mount of what `childFd` holds, is `parent`'s: any
// mount point is another mount, a bind mount of the same file system
// included. Where the kernel gives no mount IDs, the device and then the
// mount table tell.
bool SameMount(const MountTag& parent, const MountTag& child, int childFd);
// The same for what `path` (relative to `at`, or `at` itself where `path`
// is "") names, opened only where the mount table must be asked.
bool OnMountOf(const MountTag& parent, const MountTag& child, int at, const char* path);

// What identifies the directory `st` and `mount` were read of, and its times.
DirectoryStamp StampOf(const struct stat& st, const MountTag& mount);

// The Windows attribute bits of a directory of status `st`, named `name`:
// read-only without its owner's write bit, a reparse point where it is not
// on its parent's mount, hidden for a dot name.
inline uint32_t DirectoryAttributes(const struct stat& st, bool onParentMount, std::string_view name) {
  uint32_t attributes = kAttrDirectory | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
  if (!onParentMount) attributes |= kAttrReparsePoint;
  if (!name.empty() && name[0] == '.') attributes |= kAttrHidden;
  return attributes;
}

// The Windows attribute bits of a file of status `st`.
inline uint32_t FileAttributes(const struct stat& st) {
  return kAttrArchive | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
}

// Deletes a listed file: one request, through the held descriptor where the
// listing is the current directory's; two where its status was read ahead,
// as UnlinkIfRemovable. Returns true when it was deleted.
bool RemoveEntry(const Listing& listing, const ListedEntry& entry);

// Returns true when entry `name` of the directory `dir`, its status read
// now, is of what the program deletes: a regular file its owner may write,
// or a link (never followed); false when it is something else or is gone.
bool IsRemovableNow(int dir, const char* name);

// Deletes entry `name` of the directory `dir` only if IsRemovableNow:
// unlink asks nothing of a file's mode, so a status read earlier would let
// a file made read-only since go. Returns true when it was deleted, false
// when it is something else now, is gone, or the deletion failed.
bool UnlinkIfRemovable(int dir, const char* name);

// Appends the entries of the directory `fd` is open on for reading (and
// stays open), "." and ".." left out, as ReadDirectory notes them. Returns
// false when a read failed part-way: the entries are then not the whole
// directory. Safe on any thread.
bool ReadEntries(int fd, std::vector<ListedEntry>& entries);

// The fold of names on POSIX, eight bytes at once: a-z only, as the layer
// has always ignored case.
inline uint64_t FoldEight(uint64_t bytes) { return AsciiUpperEight(bytes); }

// Gives back the room ReadEntries left over in `entries`. Safe on any thread.
void KeepEntries(std::vector<ListedEntry>& entries);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
