// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the mount a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <string>
#include <string_view>

#include "platform/listing/listing.h"

// True when the directory `child` lies on the mount of the directory
// `parent`, each named relative to a descriptor (AT_FDCWD for the current
// directory), or the descriptor itself where the name is "". Any mount point
// is another mount, a bind mount of the same file system included; neither
// name is followed where it is a link.
bool OnSameMount(int parentAt, const char* parent, int childAt, const char* child);

// The current directory as entered, open for reading: its listing is then
// read, and its files looked at and deleted, through this descriptor instead
// of by name. Takes the descriptor; -1 lets go of the one held.
void HoldCurrentDirectory(int fd);

// Deletes a listed file: one request, through the held descriptor where the
// listing is the current directory's.
bool RemoveEntry(const Listing& listing, const ListedEntry& entry);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
