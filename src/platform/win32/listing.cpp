// The directory reader on Windows: one search for "*" lists a directory, in
// the order the system keeps, with the attributes and sizes of its find data.
// Only long names are listed, so no 8.3 alias ever matches.
#include <windows.h>

#include "common/names.h"
#include "platform/win32/directory.h"
#include "platform/core/listing.h"

const std::string_view kDroppedAtNameEnd = ". ";

bool NameReadAsAnother(std::string_view name) {
  // "." and ".." are what they say; any other name ending so is cut short.
  if (name.empty() || name == "." || name == "..") return false;
  return kDroppedAtNameEnd.find(name.back()) != std::string_view::npos;
}

namespace {

void Note(ListedEntry& entry, uint32_t attributes, DWORD sizeHigh, DWORD sizeLow, uint32_t epoch) {
  entry.attributes = entry.listedAttributes = attributes;
  entry.size = static_cast<int64_t>((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
  entry.readAt = epoch;
}

}  // namespace

bool ReadEntries(const std::string& pattern, uint32_t epoch, std::vector<ListedEntry>& entries) {
  WIN32_FIND_DATAA data;
  // The basic information level and large fetches are refused by systems
  // before Windows 7; they get the search every system knows.
  HANDLE find = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    find = FindFirstFileExA(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                            nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string_view name(data.cFileName);
    if (name == "." || name == "..") continue;
    ListedEntry& entry = entries.emplace_back();
    entry.name.assign(name);
    entry.orderKey = entries.size();
    Note(entry, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, epoch);
  } while (FindNextFileA(find, &data));
  bool whole = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  return whole;
}

bool ReadDirectory(Listing& listing) {
  std::string pattern = LiteralPath(listing.path + "*");
  return !pattern.empty() && ReadEntries(pattern, attributeEpoch, listing.entries);
}

bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry) {
  std::string path = LiteralPath(listing.path + entry.name);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    Note(entry, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, attributeEpoch);
    return true;
  }
  // Gone only when the system says so: a name it cannot take back keeps
  // what its listing showed.
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool ListedBefore(const ListedEntry& a, const ListedEntry& b) { return a.orderKey < b.orderKey; }
