// What the read-ahead asks of Windows: a directory known by its full path,
// each subdirectory held open while its path is searched, so that the
// listing is of the directory identified, or none.
#include <windows.h>

#include "common/names.h"
#include "platform/core/readahead.h"
#include "platform/core/removals.h"
#include "platform/win32/descent.h"
#include "platform/win32/directory.h"

struct AheadDirectory {
  std::string path;  // full
};

namespace {

// Opens the directory `path` names so that it can be neither renamed nor
// deleted while it is open (no FILE_SHARE_DELETE): the link or mount point
// itself, never what it leads to.
HANDLE OpenHeld(const std::string& path, DirectoryStamp& stamp, uint32_t& attributes) {
  HANDLE handle = CreateFileA(LiteralPath(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE && !StampOfHandle(handle, stamp, attributes)) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

}  // namespace

// Judged by what it is once held: a link, a junction or a read-only
// directory is never searched.
bool ReadSubdirectoryAhead(const AheadDirectory& parent, const std::string& name, uint32_t epoch,
                           DirectoryStamp& stamp, std::vector<ListedEntry>& entries,
                           AheadParent& itself) {
  std::string path = JoinPath(parent.path, name);
  // A path the A functions do not take is left to the descent.
  if (path.size() + 2 >= MAX_PATH) return false;
  uint32_t attributes = 0;
  HANDLE handle = OpenHeld(path, stamp, attributes);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool whole = MayEnter(attributes) && ReadEntries(LiteralPath(JoinPath(path, "*")), epoch, entries);
  CloseHandle(handle);
  if (!whole) return false;
  itself = std::make_shared<AheadDirectory>(AheadDirectory{std::move(path)});
  return true;
}

// The listing gives each file's attributes and size: no file's status is
// read ahead.
bool ReadFileAhead(const AheadDirectory&, const std::string&, uint32_t&, int64_t&) { return false; }

bool RemoveFileAhead(const AheadDirectory& parent, const std::string& name, const RemovalJob&) {
  std::string literal = LiteralPath(JoinPath(parent.path, name));
  return !literal.empty() && DeleteFileA(literal.c_str()) != 0;
}

// A share's server makes a directory's deletions together; each is made by
// the directory's full path, which names another directory once it has
// been moved.
const int kRemovalsOfADirectoryAtOnce = kRemovalsAtOnce;
const bool kRemovalsOutliveTheirDirectory = false;
// As many as are made at once: a directory's deletions keep them all busy.
const int kRemovalsInFlight = kRemovalsAtOnce;
// All of them are the current directory's, made together: waiting for them
// costs about one round trip.
const bool kForeseenFailureWaitsForEarlier = true;

AheadParent HereForAhead() {
  Place* here = Here();
  if (here == nullptr || here->path.empty()) return nullptr;
  return std::make_shared<AheadDirectory>(AheadDirectory{here->path});
}

// Reading ahead pays where every request is a round trip: a share. On a
// local disk the threads cost more than they save. KELVO_READ_AHEAD=1 or 0
// decides instead, for tests and for a drive not known to be remote.
bool ReadAheadPays() {
  char forced[2];
  DWORD n = GetEnvironmentVariableA("KELVO_READ_AHEAD", forced, sizeof forced);
  if (n > 0) return forced[0] == '1';
  char here[MAX_PATH];
  char root[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof here, here);
  bool named = length > 0 && length < sizeof here && GetVolumePathNameA(here, root, sizeof root);
  if (named && here[0] == '\\' && here[1] == '\\') return true;
  return GetDriveTypeA(named ? root : nullptr) == DRIVE_REMOTE;
}
