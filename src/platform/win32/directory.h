// Entering a directory on Windows, shared by the file services, the descent
// and the listings. Internal to platform-win32.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/core/listing.h"
#include "platform/core/readahead.h"

// Makes `path` the current directory: through the A function, or, for a
// path past MAX_PATH, the wide one (in its "\\?\" form where needed).
// Allocates nothing: the break handler returns through here.
bool SetAnyCurrentDirectory(const char* path);

// True where the system's calls would take the listed name `name` for
// another: one that ends in a dot or a space, which they drop, so that " .."
// is the directory itself and "x." is "x".
bool NameReadAsAnother(std::string_view name);

// `path` (relative to the current directory, or full) as the system takes
// it literally: as it is, unless one of its names is one it would read as
// another (NameReadAsAnother), or it is relative to a directory a descent
// reached by such a name; then the "\\?\" form of its full path, which the
// system does not normalise. Returns "" where that form cannot be had.
std::string LiteralPath(std::string_view path);

// What identifies the file or directory `handle` holds (its volume's serial
// number and its file index) and its times, with its attributes. Returns
// false when the system does not say.
inline bool StampOfHandle(HANDLE handle, DirectoryStamp& stamp, uint32_t& attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  auto time = [](const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  stamp = {};
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.changed = time(info.ftCreationTime);
  stamp.modified = time(info.ftLastWriteTime);
  attributes = info.dwFileAttributes;
  return true;
}

// Appends the entries of the directory `pattern` ("...\*") searches for, in
// the order the system keeps, as ReadDirectory notes them, their attributes
// read at `epoch`. Returns false when the search failed other than by
// finding nothing more: the entries are then not the whole directory. Safe
// on any thread.
bool ReadEntries(const std::string& pattern, uint32_t epoch, std::vector<ListedEntry>& entries);
