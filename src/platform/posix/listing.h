// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the mount a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/listing.h"

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

// True when what `tag` was read of (`path` from `at`, as above) lies on the
// mount of the current directory. A descent enters no other mount, so that
// one is asked once until ChangeDirectory moves the process elsewhere. Any
// mount point is another mount, a bind mount of the same file system
// included.
bool OnCurrentMount(const MountTag& tag, int at, const char* path);
void ForgetCurrentMount();

// The device and inode of the directory held by HoldCurrentDirectory, where
// it was entered as a subdirectory: its listing may then have been read
// ahead. Forgotten with the descriptor.
void NoteCurrentIdentity(uint64_t device, uint64_t inode);

// The current directory as entered (opened as a place, not necessarily for
// reading): its listing is then read, and its files looked at and deleted,
// through this descriptor instead of by name. Takes the descriptor; -1 lets go of the one held.
void HoldCurrentDirectory(int fd);

// Deletes a listed file: one request, through the held descriptor where the
// listing is the current directory's.
bool RemoveEntry(const Listing& listing, const ListedEntry& entry);

// The read alone shows a plain subdirectory, one a descent may enter: what
// is read ahead, and what a read ahead may answer for.
inline bool ListedAsSubdirectory(const ListedEntry& entry) {
  return entry.typeKnown && entry.listedAttributes == kAttrDirectory;
}

// Appends the entries a directory stream yields, "." and ".." left out, as
// ReadDirectory notes them. Safe on any thread.
void ReadEntries(DIR* dir, std::vector<ListedEntry>& entries);

// Eight bytes of names with a-z made A-Z at once: a byte is a lower-case
// letter when adding 0x1F sets its top bit and adding 0x05 does not, and its
// own top bit is clear; no sum carries into the next byte.
inline uint64_t FoldEight(uint64_t bytes) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  uint64_t low = bytes & (0x7F * kOnes);
  uint64_t lower = (low + 0x1F * kOnes) & ~(low + 0x05 * kOnes) & ~bytes & (0x80 * kOnes);
  return bytes & ~(lower >> 2);
}

// Gives back the room ReadEntries left over in `entries`. Safe on any thread.
void KeepEntries(std::vector<ListedEntry>& entries);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
