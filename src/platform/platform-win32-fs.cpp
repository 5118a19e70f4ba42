// File-system services on Windows: the kernel32 calls themselves. The
// kernel's pattern search also matches 8.3 aliases (*.BAK finds notes.bakup
// as NOTE~1.BAK), so its results only feed the search: an entry is kept only
// when the program's own matcher accepts its long name. Kernels differ in the
// finer points of wildcards ("*?AS" finds nothing on some), so the kernel is
// given a pattern only in the shapes every one of them reads alike: a plain
// name, or "*" and a plain tail; any other pattern lists the whole directory.
#include <windows.h>

#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

struct SearchState {
  HANDLE find = INVALID_HANDLE_VALUE;
  std::string pattern;
  PreparedPattern prepared;  // refers to `pattern`
  uint32_t attrSet = 0;
};

namespace {

bool Accept(const SearchState& state, const WIN32_FIND_DATAA& data, TSearchRec& rec) {
  if (!MatchPrepared(state.prepared, data.cFileName)) return false;
  uint32_t attributes = data.dwFileAttributes;
  if (!PassesFilter(attributes, state.attrSet)) return false;
  rec.name = data.cFileName;
  rec.size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  rec.attributes = attributes;
  return true;
}

bool NextAccepted(SearchState& state, TSearchRec& rec) {
  WIN32_FIND_DATAA data;
  while (FindNextFileA(state.find, &data))
    if (Accept(state, data, rec)) return true;
  return false;
}

}  // namespace

// Room for a path of MAX_PATH characters in UTF-8, up to three bytes each.
constexpr DWORD kPathBytes = 3 * MAX_PATH + 1;

std::string ProgramPath() {
  char path[kPathBytes];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

bool SearchFirst(std::string_view pattern, uint32_t attrSet, TSearchRec& rec) {
  rec.handle = nullptr;
  std::string_view namePattern = NamePart(pattern);
  // A NUL would end the kernel's pattern early and widen it.
  if (namePattern.empty() || pattern.find('\0') != std::string_view::npos) return false;
  bool plainShape = IsLiteralPattern(namePattern) || PreparePattern(namePattern).starThenLiteral;
  std::string kernelPattern(plainShape ? pattern : PathPart(pattern));
  if (!plainShape) kernelPattern += '*';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(kernelPattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  auto state = new SearchState;
  state->find = find;
  state->pattern.assign(namePattern);
  state->prepared = PreparePattern(state->pattern);
  state->attrSet = attrSet;
  rec.handle = state;
  if (Accept(*state, data, rec)) return true;
  return NextAccepted(*state, rec);
}

bool SearchNext(TSearchRec& rec) {
  if (rec.handle == nullptr) return false;
  return NextAccepted(*rec.handle, rec);
}

void SearchClose(TSearchRec& rec) {
  if (rec.handle == nullptr) return;
  FindClose(rec.handle->find);
  delete rec.handle;
  rec.handle = nullptr;
}

bool RemoveFile(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return false;
  return DeleteFileA(std::string(name).c_str()) != 0;
}

bool ChangeDirectory(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  return SetCurrentDirectoryA(std::string(path).c_str()) != 0;
}

bool EnterSubdirectory(std::string_view name) { return ChangeDirectory(name); }

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
