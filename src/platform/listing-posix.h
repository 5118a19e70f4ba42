// What the POSIX layer adds to the listings: names found without regard to
// ASCII case along a whole path, and the device a descent must stay on.
// Internal to platform-posix.
#pragma once

#include <string>
#include <string_view>

#include "platform/listing/listing.h"

// The device of the current directory, known from entering it or asked for
// once; forgotten where the directory changed in another way.
uint64_t CurrentDevice();
void NoteCurrentDevice(uint64_t device);
void ForgetCurrentDevice();

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
