// The way down on Windows: each level's volume serial number and file index.
// A climb takes ".." and keeps it only when it is that very directory; else
// it comes down again from the top by the names the descent took, each step
// proven, so a directory moved, or a link put in its place, leads nowhere.
#include "platform/win32/descent.h"

#include <windows.h>

#include <vector>

#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/removals.h"
#include "platform/platform.h"
#include "platform/win32/directory.h"

namespace {

Way<Place> way;

enum class Found { Yes, Gone, Unreadable };

// What the directory `path` names is, read now: its stamp and attributes.
// With `linkItself` a link or mount point is looked at, not followed.
Found Look(const char* path, bool linkItself, DirectoryStamp& stamp, uint32_t& attributes) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return gone ? Found::Gone : Found::Unreadable;
  }
  bool known = StampOfHandle(handle, stamp, attributes);
  CloseHandle(handle);
  return known ? Found::Yes : Found::Unreadable;
}

// What identifies the plain directory `path` names (a link or mount point is
// none).
Found IdentityOf(const char* path, bool linkItself, DirectoryStamp& stamp) {
  uint32_t attributes = 0;
  Found found = Look(path, linkItself, stamp, attributes);
  constexpr DWORD kPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (found == Found::Yes && (attributes & kPlain) != FILE_ATTRIBUTE_DIRECTORY)
    return Found::Unreadable;
  return found;
}

// How `level` is named to the system to be proven: "." where the process
// stands in it, unless relative names there lead elsewhere.
std::string ProofOf(const Place& level) { return level.literalOnly ? LiteralPath(level.path) : "."; }

// Changes to `path` and proves that the process stands in `level` then.
Climb StepTo(const char* path, const Place& level) {
  DirectoryStamp here;
  bool moved;
  {
    StopGate gate;
    moved = SetAnyCurrentDirectory(path);
  }
  if (!moved) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Climb::Gone
                                                                           : Climb::Unproven;
  }
  Found found = IdentityOf(ProofOf(level).c_str(), false, here);
  if (found != Found::Yes) return found == Found::Gone ? Climb::Gone : Climb::Unproven;
  return here.SameDirectory(level.stamp) ? Climb::Back : Climb::Unproven;
}

// Stands in way.levels[target] again, reached from the top by the names taken.
Climb ComeDown(size_t target) {
  Climb climb = Climb::Back;
  for (size_t i = 0; i <= target && climb == Climb::Back; ++i) {
    const Place& level = way.levels[i];
    climb = StepTo((level.literalOnly ? LiteralPath(level.path) : level.name).c_str(), level);
  }
  return climb;
}

}  // namespace

// The directory the process stands in becomes the top.
void MakeTop() {
  way.Forget();
  Place top;
  top.name = CurrentDirectory();
  // A top that cannot be identified is never climbed back to.
  if (IdentityOf(".", false, top.stamp) != Found::Yes) top.name.clear();
  top.path = top.name;
  top.listed = true;
  way.SetTop(std::move(top));
}

Place* Here() {
  if (way.levels.empty()) MakeTop();
  return way.lost ? nullptr : &way.levels.back();
}

bool StandsByLiteralPathOnly() {
  return !way.lost && !way.levels.empty() && way.levels.back().literalOnly;
}

Entry EnterSubdirectory(std::string_view name) {
  Place* here = Here();
  if (here == nullptr || name.find('\0') != std::string_view::npos) return Entry::Refused;
  LeavingDirectory();
  Place level;
  level.name.assign(name);
  if (!here->path.empty()) level.path = JoinPath(here->path, level.name);
  // A name the A functions would cut short leads elsewhere, and so would
  // every name relative to it once it were the current directory: such a
  // directory, and all below it, is named by its whole path, as it is.
  level.literalOnly = here->literalOnly || NameReadAsAnother(name);
  std::string reach = level.literalOnly ? LiteralPath(level.path) : level.name;
  if (reach.empty()) return Entry::Refused;
  // What it is now, the link or mount point itself and not what it leads
  // to: one made read-only, a link or a junction since it was listed is
  // not entered.
  uint32_t attributes = 0;
  Found found = Look(reach.c_str(), true, level.stamp, attributes);
  // Gone: nothing is left there to clean. A link or junction in its place
  // cannot be reached as it was found, and is said so. The attributes of
  // the name are asked as well: a system may open a link as what it leads
  // to (Wine does) and show no reparse point on the handle.
  if (found == Found::Gone) return Entry::PassedOver;
  if (found == Found::Yes) attributes |= GetFileAttributesA(reach.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT;
  constexpr DWORD kPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (found != Found::Yes || (attributes & kPlain) != FILE_ATTRIBUTE_DIRECTORY) return Entry::Refused;
  Entry admitted = way.Admits(attributes, level.stamp);
  if (admitted != Entry::Entered) return admitted;
  bool moved;
  {
    StopGate gate;
    moved = SetAnyCurrentDirectory(reach.c_str());
  }
  if (!moved) return Entry::Refused;
  DirectoryStamp inside;
  if (IdentityOf(ProofOf(level).c_str(), false, inside) != Found::Yes ||
      !inside.SameDirectory(level.stamp)) {
    // Swapped meanwhile: back to where the search was made, by identity,
    // or no further step down until a climb finds the way again.
    way.lost = ComeDown(way.levels.size() - 1) != Climb::Back;
    return Entry::Refused;
  }
  ForgetListings();
  level.askedIn = here->aheadGroup;
  way.Push(std::move(level));
  return Entry::Entered;
}

Climb LeaveSubdirectory() {
  if (way.levels.size() < 2) return Climb::AtTop;
  LeavingDirectory();
  bool byLiteralPath = way.levels.back().literalOnly;
  way.Pop();
  ForgetListings();
  if (way.levels.front().name.empty()) return way.Climbed(Climb::Unproven);
  // ".." from a directory named only by its whole path would be taken
  // from the name the system made of it: the way up is named whole too.
  const Place& up = way.levels.back();
  std::string upward = !byLiteralPath ? ".." : up.literalOnly ? LiteralPath(up.path) : up.path;
  Climb climb = upward.empty() ? Climb::Unproven : StepTo(upward.c_str(), up);
  if (climb != Climb::Back) climb = ComeDown(way.levels.size() - 1);
  return way.Climbed(climb);
}

PlaceBase* CurrentPlace() { return Here(); }

WayBase& TheWay() { return way; }
