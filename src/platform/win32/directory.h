// Entering a directory on Windows, shared by the file services, the descent
// and the listings. Internal to platform-win32.
#pragma once

#include <cstdint>
#include <string>

// Makes `path` the current directory: through the A function, or, for a
// path past MAX_PATH, the wide one (in its "\\?\" form where needed).
// Allocates nothing: the break handler returns through here.
bool SetAnyCurrentDirectory(const char* path);

// What tells a directory from every other: its volume's serial number and
// its file index.
struct DirectoryIdentity {
  uint32_t volume = 0;
  uint32_t indexHigh = 0;
  uint32_t indexLow = 0;
  bool operator==(const DirectoryIdentity&) const = default;
};

// Where the descent stands: the full path ("": not known), and, for a
// subdirectory it entered and proved, what identifies it (its listing may
// have been read ahead); nullptr: none proven. Until it is forgotten, the
// listings read ahead are asked for from this path alone.
void NoteDescentDirectory(const std::string& path, const DirectoryIdentity* entered);
void ForgetDescentDirectory();
