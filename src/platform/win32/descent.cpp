// The way down on Windows: each level's volume serial number and file index.
// A climb takes ".." and keeps it only when it is that very directory; else
// it comes down again from the top by the names the descent took, each step
// proven, so a directory moved, or a link put in its place, leads nowhere.
#include <windows.h>

#include <string>
#include <vector>

#include "common/names.h"
#include "platform/win32/directory.h"
#include "platform/core/listing.h"
#include "platform/platform.h"

namespace {

using Identity = DirectoryIdentity;

struct Level {
  std::string name;  // as entered from the level above; the whole path at the top
  Identity identity;
  std::string path;  // the whole path, "" where it is not known
};

std::vector<Level> way;
// The process stands in no proven level since a step down went astray.
bool lost = false;

enum class Found { Yes, Gone, Unreadable };

// What identifies the directory `path` names; with `linkItself` a link or
// mount point is looked at, not followed, and is no plain directory.
Found IdentityOf(const char* path, bool linkItself, Identity& identity) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return gone ? Found::Gone : Found::Unreadable;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  constexpr DWORD kPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (!known || (info.dwFileAttributes & kPlain) != FILE_ATTRIBUTE_DIRECTORY)
    return Found::Unreadable;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return Found::Yes;
}

// Changes to `path` and proves that the process stands in `level` then.
Climb StepTo(const char* path, const Level& level) {
  Identity here;
  if (!SetAnyCurrentDirectory(path)) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Climb::Gone
                                                                           : Climb::Unproven;
  }
  Found found = IdentityOf(".", false, here);
  if (found != Found::Yes) return found == Found::Gone ? Climb::Gone : Climb::Unproven;
  return here == level.identity ? Climb::Back : Climb::Unproven;
}

// Stands in way[target] again, reached from the top by the names taken.
Climb ComeDown(size_t target) {
  Climb climb = Climb::Back;
  for (size_t i = 0; i <= target && climb == Climb::Back; ++i)
    climb = StepTo(way[i].name.c_str(), way[i]);
  return climb;
}

}  // namespace

void BeginDescent() {
  EndDescent();
  Level top{CurrentDirectory(), {}, {}};
  // A top that cannot be identified is never climbed back to.
  if (IdentityOf(".", false, top.identity) != Found::Yes) top.name.clear();
  top.path = top.name;
  NoteDescentDirectory(top.path, nullptr);
  way.push_back(std::move(top));
}

void EndDescent() {
  way.clear();
  lost = false;
  ForgetDescentDirectory();
}

bool EnterSubdirectory(std::string_view name) {
  if (way.empty() || lost || name.find('\0') != std::string_view::npos) return false;
  Level level{std::string(name), {}, {}};
  if (IdentityOf(level.name.c_str(), true, level.identity) != Found::Yes) return false;
  if (!SetAnyCurrentDirectory(level.name.c_str())) return false;
  Identity here;
  if (IdentityOf(".", false, here) != Found::Yes || !(here == level.identity)) {
    // Swapped meanwhile: back to where the search was made, by identity,
    // or no further step down until a climb finds the way again.
    lost = ComeDown(way.size() - 1) != Climb::Back;
    NoteDescentDirectory(lost ? std::string() : way.back().path, nullptr);
    return false;
  }
  ForgetListings();
  if (!way.back().path.empty()) level.path = JoinPath(way.back().path, level.name);
  NoteDescentDirectory(level.path, &here);
  way.push_back(std::move(level));
  return true;
}

Climb LeaveSubdirectory() {
  if (way.size() < 2) return Climb::Unproven;
  way.pop_back();
  ForgetListings();
  if (way.front().name.empty()) {
    NoteDescentDirectory(std::string(), nullptr);
    return Climb::Unproven;
  }
  Climb climb = StepTo("..", way.back());
  if (climb != Climb::Back) climb = ComeDown(way.size() - 1);
  lost = climb != Climb::Back;
  NoteDescentDirectory(lost ? std::string() : way.back().path, nullptr);
  return climb;
}
