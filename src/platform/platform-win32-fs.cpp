// File-system services on Windows: the kernel32 calls, and the searches
// answered from the listings.
#include <windows.h>

#include "common/names.h"
#include "platform/listing/listing.h"
#include "platform/platform.h"

// Room for a path of MAX_PATH characters in UTF-8, up to three bytes each.
constexpr DWORD kPathBytes = 3 * MAX_PATH + 1;

std::string ProgramPath() {
  char path[kPathBytes];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

namespace {

// Each directory of a directory part, asked again just before a deletion
// below it: one made a link, junction or mount point while a question waited
// is not followed.
bool PlainDirectoriesAlong(const std::string& dirPath) {
  for (size_t end = dirPath.find('\\'); end != std::string::npos;
       end = dirPath.find('\\', end + 1)) {
    DWORD attributes = GetFileAttributesA(dirPath.substr(0, end).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  return true;
}

}  // namespace

bool RemoveFile(std::string_view name, int64_t& size) {
  // "/" separates names to the system but never stands in one: a name
  // holding it would lead elsewhere.
  if (name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) return false;
  std::string dirPath;
  if (!ReachDirectoryOf(name, dirPath)) return false;
  // The entry's own spelling names the same file; given it, a system whose
  // names are case-sensitive underneath (Wine) need not search the directory.
  Listing* listing = CachedListing(dirPath);
  int32_t i = listing != nullptr ? FindLiteral(*listing, NamePart(name)) : -1;
  std::string target = i >= 0 ? listing->path + listing->entries[i].name : std::string(name);
  // The size the listing showed, unless the user was asked since: the file
  // may have changed then, and is read again.
  ListedEntry unlisted;
  unlisted.name = target;
  ListedEntry& entry = i >= 0 ? listing->entries[i] : unlisted;
  if (i >= 0 ? !CurrentAttributes(*listing, entry) : !ReadEntryAttributes(Listing{}, unlisted))
    return false;
  if (!PlainDirectoriesAlong(dirPath) || !DeleteFileA(target.c_str())) return false;
  if (i >= 0) entry.removed = true;
  size = entry.size;
  return true;
}

bool ChangeDirectory(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  if (!SetCurrentDirectoryA(std::string(path).c_str())) return false;
  ForgetListings();
  return true;
}

bool ReturnToDirectory(const char* path) { return SetCurrentDirectoryA(path) != 0; }

std::string CurrentDirectory() {
  char path[kPathBytes];
  DWORD n = GetCurrentDirectoryA(sizeof path, path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

int64_t FreeDiskBytes(uint8_t drive) {
  char root[] = {static_cast<char>(64 + drive), ':', '\\', '\0'};
  ULARGE_INTEGER available, total, totalFree;
  if (!GetDiskFreeSpaceExA(drive == 0 ? nullptr : root, &available, &total, &totalFree)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

std::vector<std::string> ConfigDirectories() { return {}; }

struct ReadFileState {
  HANDLE handle;
};

ReadFileState* OpenReadOnly(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return nullptr;
  HANDLE handle = CreateFileA(std::string(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  return new ReadFileState{handle};
}

bool ReadBytes(ReadFileState* file, char* buffer, size_t capacity, size_t& got) {
  DWORD n = 0;
  got = 0;
  if (!ReadFile(file->handle, buffer, static_cast<DWORD>(capacity), &n, nullptr)) return false;
  got = n;
  return true;
}

void CloseReadOnly(ReadFileState* file) {
  CloseHandle(file->handle);
  delete file;
}
