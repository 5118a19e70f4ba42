// The directory reader on Windows: one search for "*" lists a directory, in
// the order the system keeps, with the attributes and sizes of its find data.
// Only long names are listed, so no 8.3 alias ever matches.
#include <windows.h>

#include "common/names.h"
#include "platform/win32/directory.h"
#include "platform/core/listing.h"
#include "platform/win32/readahead.h"

const std::string_view kDroppedAtNameEnd = ". ";

namespace {

void Note(ListedEntry& entry, uint32_t attributes, DWORD sizeHigh, DWORD sizeLow, uint32_t epoch) {
  entry.attributes = entry.listedAttributes = attributes;
  entry.size = static_cast<int64_t>((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
  entry.readAt = epoch;
}

// Where the descent stands, as NoteDescentDirectory tells it.
bool inDescent = false;
std::string descentPath;
DirectoryIdentity descentIdentity;
bool descentProven = false;

// The full path of the current directory, where one is known, for the
// subdirectories asked for ahead.
std::string Here() { return inDescent ? descentPath : CurrentDirectory(); }

}  // namespace

void NoteDescentDirectory(const std::string& path, const DirectoryIdentity* entered) {
  inDescent = true;
  descentPath = path;
  descentProven = entered != nullptr;
  if (entered != nullptr) descentIdentity = *entered;
}

void ForgetDescentDirectory() {
  inDescent = descentProven = false;
  descentPath.clear();
}

void ReadEntries(const std::string& pattern, uint32_t epoch, std::vector<ListedEntry>& entries) {
  WIN32_FIND_DATAA data;
  // The basic information level and large fetches are refused by systems
  // before Windows 7; they get the search every system knows.
  HANDLE find = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    find = FindFirstFileExA(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                            nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string_view name(data.cFileName);
    if (name == "." || name == "..") continue;
    ListedEntry& entry = entries.emplace_back();
    entry.name.assign(name);
    entry.orderKey = entries.size();
    Note(entry, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, epoch);
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

// The current directory's listing may have been read ahead, and its
// subdirectories asked for with it; else they are asked for now. Only a
// subdirectory the descent entered and proved is taken from what was read
// ahead, and only the listing of that very directory.
void ReadDirectory(Listing& listing) {
  uint64_t below = 0;
  bool current = listing.path.empty();
  if (current && descentProven && TakeReadAhead(descentIdentity, listing.entries, below)) {
    if (below != 0) {
      listing.readAheadGroup = below;
      listing.readAheadEpoch = attributeEpoch;
      return;
    }
  } else {
    ReadEntries(listing.path + "*", attributeEpoch, listing.entries);
  }
  if (current) {
    listing.readAheadGroup = ReadAheadSubdirectories(Here(), listing.entries);
  }
  listing.readAheadEpoch = attributeEpoch;
}

namespace {

// The subdirectories still ahead, asked for again after a key.
void AskAgainAfterKey(const Listing& listing, const ListedEntry& entry) {
  std::vector<ListedEntry> rest;
  if (SubdirectoriesToAskAgain(listing, entry, ListedAsSubdirectory, rest))
    listing.readAheadGroup = ReadAheadSubdirectories(Here(), rest);
}

}  // namespace

bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry) {
  if (ListedAsSubdirectory(entry)) AskAgainAfterKey(listing, entry);
  std::string path = listing.path + entry.name;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    Note(entry, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, attributeEpoch);
    return true;
  }
  // Gone only when the system says so: a name it cannot take back keeps
  // what its listing showed.
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool ListedBefore(const ListedEntry& a, const ListedEntry& b) { return a.orderKey < b.orderKey; }
