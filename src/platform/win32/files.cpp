// File-system services on Windows: the kernel32 calls, and the searches
// answered from the listings.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/names.h"
#include "platform/win32/descent.h"
#include "platform/win32/directory.h"
#include "platform/win32/long_paths.h"
#include "platform/core/listing.h"
#include "platform/core/removals.h"
#include "platform/platform.h"

// Room for a path of MAX_PATH characters in UTF-8, up to three bytes each.
constexpr DWORD kPathBytes = 3 * MAX_PATH + 1;

namespace {

// The longest path the wide functions take.
constexpr size_t kLongPath = 32767;

std::string SystemCurrentDirectory() {
  char path[kPathBytes];
  DWORD n = GetCurrentDirectoryA(sizeof path, path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

// A path in the names' code page as UTF-16, into `wide` (room for kLongPath
// characters and the prefix); 0 when it does not convert. No allocation: the
// break handler returns through here.
size_t WidePath(const char* path, wchar_t* wide, size_t room) {
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, static_cast<int>(room));
  return n > 0 ? static_cast<size_t>(n - 1) : 0;
}

// Enters a directory the A function will not: a path longer than MAX_PATH
// goes through the wide function, as it is and then in its "\\?\" form.
bool SetLongCurrentDirectory(const char* path) {
  static wchar_t wide[kLongPath + 8];
  if (WidePath(path, wide, kLongPath) == 0) return false;
  if (SetCurrentDirectoryW(wide)) return true;
  // The prefixed form takes no "/" and no relative name: only a full path.
  static wchar_t full[kLongPath + 8];
  DWORD length = GetFullPathNameW(wide, kLongPath, full, nullptr);
  if (length == 0 || length >= kLongPath) return false;
  if (long_paths::WriteLongForm(full, length, wide, sizeof wide / sizeof wide[0]) == 0)
    return false;
  return SetCurrentDirectoryW(wide) != 0;
}

// The full path of `path` where the system cannot report the current
// directory: the wide function knows it whatever its length.
std::string FullPathOf(std::string_view path) {
  static wchar_t wide[kLongPath + 8];
  static wchar_t full[kLongPath + 8];
  if (WidePath(std::string(path).c_str(), wide, kLongPath) == 0) return {};
  DWORD length = GetFullPathNameW(wide, kLongPath, full, nullptr);
  if (length == 0 || length >= kLongPath) return {};
  long_paths::ToShownForm(full, length);
  const wchar_t* text = full;
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), n, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

// Where the process stands after it was moved from `text` by `target`,
// as the system names it: as it reports it, or, past MAX_PATH, where it
// reports nothing, a name entered added to the text and ".." cutting one
// off; any other path entered there is asked of the wide function.
std::string TextAfterChange(std::string text, std::string_view target) {
  std::string system = SystemCurrentDirectory();
  if (!system.empty()) return system;
  if (target == "..") {
    size_t cut = text.find_last_of('\\');
    // A drive root keeps its separator.
    if (cut != std::string::npos) text.resize(cut == 2 ? 3 : cut);
    return text;
  }
  if (target.find_first_of("\\/:") == std::string_view::npos && target != ".")
    return JoinPath(text, target);
  return FullPathOf(".");
}

}  // namespace

std::string LiteralPath(std::string_view path) {
  bool literal = true;
  for (size_t start = 0; start <= path.size() && literal;) {
    size_t end = std::min(path.find('\\', start), path.size());
    literal = !NameReadAsAnother(path.substr(start, end - start));
    start = end + 1;
  }
  bool full = path.starts_with("\\\\") || (path.size() > 2 && path[1] == ':' && path[2] == '\\');
  if (literal && (full || !StandsByLiteralPathOnly())) return std::string(path);
  // Relative names are taken from where the process stands, as the descent
  // knows it: the system's own text of the current directory is cut short
  // past MAX_PATH, and where it holds such a name, it is cut short too.
  Place* here = full ? nullptr : Here();
  if (!full && (here == nullptr || here->path.empty())) return {};
  std::string whole = full || path.empty() ? std::string(full ? path : here->path)
                                           : JoinPath(here->path, path);
  // The prefixed form takes no "/", "." or "..": only names as listed.
  if (whole.find('/') != std::string::npos || whole.find("\\.\\") != std::string::npos ||
      whole.find("\\..\\") != std::string::npos || whole.size() < 3)
    return {};
  std::string prefixed(whole.size() + 8, '\0');
  prefixed.resize(long_paths::WriteLongForm(whole.data(), whole.size(), prefixed.data(),
                                            prefixed.size()));
  return prefixed;
}

bool SetAnyCurrentDirectory(const char* path) {
  return SetCurrentDirectoryA(path) || SetLongCurrentDirectory(path);
}

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
    DWORD attributes = GetFileAttributesA(LiteralPath(dirPath.substr(0, end)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  return true;
}

}  // namespace

// A file of the current directory whose full path the A functions take may
// be deleted on a worker; a read-only one fails in its turn.
bool MayIssue(const std::string& dirPath, int32_t i, const ListedEntry& entry,
              const std::string& target) {
  Place* here = Here();
  return i >= 0 && dirPath.empty() && !(entry.attributes & kAttrReadOnly) && here != nullptr &&
         !here->path.empty() &&
         here->path.size() + target.size() + 2 < MAX_PATH;
}

Removal RemoveOrIssue(std::string_view name, int64_t& size, bool overlap) {
  // "/" separates names to the system but never stands in one: a name
  // holding it would lead elsewhere.
  if (name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) return Removal::Failed;
  std::string dirPath;
  if (!ReachDirectoryOf(name, dirPath)) return Removal::Failed;
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
    return Removal::Failed;
  if (!PlainDirectoriesAlong(dirPath)) return Removal::Failed;
  size = entry.size;
  if (overlap && MayIssue(dirPath, i, entry, target) && IssueAhead(ListingFor(dirPath), entry, name))
    return Removal::Issued;
  {
    StopGate gate;
    std::string literal = LiteralPath(target);
    if (literal.empty() || !DeleteFileA(literal.c_str())) return Removal::Failed;
  }
  if (i >= 0) entry.removed = true;
  return Removal::Removed;
}

bool ChangeDirectory(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  LeavingDirectory();
  std::string before = CurrentDirectory();
  if (!SetAnyCurrentDirectory(std::string(path).c_str())) return false;
  ForgetListings();
  ForgetPlaces(path, TextAfterChange(std::move(before), path));
  return true;
}

bool ReturnToDirectory(const char* path) { return SetAnyCurrentDirectory(path); }

std::string CurrentDirectory() {
  if (!TopAsSystemNamesIt().empty()) return TopAsSystemNamesIt();
  std::string system = SystemCurrentDirectory();
  return system.empty() ? FullPathOf(".") : system;
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

// The listing gave each file's attributes and size: a deletion asks nothing before it.
bool ReadsFilesAhead() { return false; }
void WillRemove(const std::vector<std::string>&) {}
