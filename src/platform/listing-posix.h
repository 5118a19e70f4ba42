// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the device a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <dirent.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/listing.h"

// The device of the current directory, known from entering it or asked for
// once; forgotten where the directory changed in another way.
uint64_t CurrentDevice();
void NoteCurrentDevice(uint64_t device);
void ForgetCurrentDevice();
// The inode of the current directory, noted where it was entered; forgotten
// with the device.
void NoteCurrentInode(uint64_t inode);

// The current directory as entered, open for reading: its listing is then
// read through this descriptor instead of opening the directory again. Takes
// the descriptor; -1 lets go of one held and not yet read.
void HoldCurrentDirectory(int fd);

// Appends the entries a directory stream yields, "." and ".." left out, as
// ReadDirectory notes them. Safe on any thread.
void ReadEntries(DIR* dir, std::vector<ListedEntry>& entries);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
