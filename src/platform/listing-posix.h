// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the mount a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <dirent.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/listing.h"

// True when the directory `child` lies on the mount of the directory
// `parent`, each named relative to a descriptor (AT_FDCWD for the current
// directory), or the descriptor itself where the name is "". Any mount point
// is another mount, a bind mount of the same file system included; neither
// name is followed where it is a link.
bool OnSameMount(int parentAt, const char* parent, int childAt, const char* child);

// The device and inode of the directory held by HoldCurrentDirectory, where
// it was entered as a subdirectory: its listing may then have been read
// ahead. Forgotten with the descriptor.
void NoteCurrentIdentity(uint64_t device, uint64_t inode);

// The current directory as entered, open for reading: its listing is then
// read, and its files looked at and deleted, through this descriptor instead
// of by name. Takes the descriptor; -1 lets go of the one held.
void HoldCurrentDirectory(int fd);

// Deletes a listed file: one request, through the held descriptor where the
// listing is the current directory's.
bool RemoveEntry(const Listing& listing, const ListedEntry& entry);

// Appends the entries a directory stream yields, "." and ".." left out, as
// ReadDirectory notes them. Safe on any thread.
void ReadEntries(DIR* dir, std::vector<ListedEntry>& entries);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
