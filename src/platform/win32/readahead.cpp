#include "platform/win32/readahead.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/names.h"
#include "platform/core/workers.h"
#include "platform/core/readahead_jobs.h"

namespace {

constexpr int kReadAheadWorkers = 16;
constexpr size_t kReadAheadHeld = 64;

struct Ahead : AheadJob {
  std::string path;  // full: the directory's above, then its name
  DirectoryIdentity identity;
};

// Under one lock: the jobs. A worker waits on the semaphore, counted up for
// each job queued; the main flow, the only one that waits for a job, on the
// event, set whenever one moves on.
struct Shared {
  CRITICAL_SECTION lock;
  HANDLE queued;
  HANDLE settled;
  AheadJobs<Ahead> jobs;
};

// Never destroyed: workers still wait on it while the process ends.
Shared* shared = nullptr;
bool wanted = false;
int workers = 0;
uint64_t groups = 0;

struct Locked {
  Locked() { EnterCriticalSection(&shared->lock); }
  ~Locked() { LeaveCriticalSection(&shared->lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// Lets go of the lock until a job has moved on.
void WaitUntilSettled() {
  LeaveCriticalSection(&shared->lock);
  WaitForSingleObject(shared->settled, INFINITE);
  EnterCriticalSection(&shared->lock);
}

size_t Ask(const std::string& directory, const std::vector<ListedEntry>& entries,
           const std::vector<uint32_t>& rank, uint32_t epoch, uint64_t& group);

bool HasSubdirectory(const std::vector<ListedEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(), ListedAsSubdirectory);
}

// Opens the directory `path` names so that it can be neither renamed nor
// deleted while it is open (no FILE_SHARE_DELETE), never through a link or
// mount point, and tells what it is.
HANDLE OpenPlain(const std::string& path, DirectoryIdentity& identity) {
  HANDLE handle = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION info;
  constexpr DWORD kPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & kPlain) != FILE_ATTRIBUTE_DIRECTORY) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return handle;
}

// The directory stays open while its path is searched, and the path still
// names it after: the listing is of the directory identified, or none.
void Read(std::shared_ptr<Ahead> job) {
  DirectoryIdentity identity;
  HANDLE handle = OpenPlain(job->path, identity);
  bool opened = handle != INVALID_HANDLE_VALUE;
  {
    Locked hold;
    job->identified = true;
    job->opened = opened;
    job->identity = identity;
  }
  SetEvent(shared->settled);
  bool complete = false;
  std::vector<ListedEntry> entries;
  if (opened) {
    ReadEntries(JoinPath(job->path, "*"), job->epoch, entries);
    DirectoryIdentity after;
    HANDLE again = OpenPlain(job->path, after);
    complete = again != INVALID_HANDLE_VALUE && after == identity;
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    CloseHandle(handle);
  }
  size_t asked = 0;
  {
    Locked hold;
    job->complete = complete;
    if (complete) job->entries = std::move(entries);
    job->state = AheadState::kRead;
    // The descent will want this directory's own subdirectories next: asked
    // for now, they are on their way before it gets here.
    if (complete && shared->jobs.Live(job) && HasSubdirectory(job->entries))
      asked = Ask(job->path, job->entries, job->rank, job->epoch, job->below);
  }
  SetEvent(shared->settled);
  if (asked > 0) ReleaseSemaphore(shared->queued, static_cast<LONG>(asked), nullptr);
}

void Work() {
  for (;;) {
    WaitForSingleObject(shared->queued, INFINITE);
    std::shared_ptr<Ahead> job;
    {
      Locked hold;
      job = shared->jobs.Next();
    }
    // Counted for a job dropped since: nothing to do.
    if (job) Read(std::move(job));
  }
}

// Asks for the plain subdirectories among `entries` of the directory at
// `directory`, in the order listed, each ranked below `rank`; `group` becomes
// theirs, 0 when none was asked for. The lock is held. Returns how many
// were queued. A path the A functions do not take is left to the descent.
size_t Ask(const std::string& directory, const std::vector<ListedEntry>& entries,
           const std::vector<uint32_t>& rank, uint32_t epoch, uint64_t& group) {
  group = ++groups;
  uint32_t order = 0;
  for (const ListedEntry* entry : InDescentOrder(entries, ListedAsSubdirectory)) {
    std::string path = JoinPath(directory, entry->name);
    if (path.size() + 2 >= MAX_PATH) continue;
    auto job = std::make_shared<Ahead>();
    job->rank = rank;
    job->rank.push_back(order);
    if (!shared->jobs.MakeRoom(job->rank, kReadAheadHeld)) break;
    job->path = std::move(path);
    job->group = group;
    job->epoch = epoch;
    ++order;
    shared->jobs.Queue(std::move(job));
  }
  if (order == 0) group = 0;
  return order;
}

// Reading ahead pays where every request is a round trip: a share. On a
// local disk the threads cost more than they save. KELVO_READ_AHEAD=1 or 0
// decides instead, for tests and for a drive not known to be remote.
bool RoundTripsAreSlow() {
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

bool StartReadingAhead() {
  shared = new Shared;
  InitializeCriticalSection(&shared->lock);
  shared->queued = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
  shared->settled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (shared->queued == nullptr || shared->settled == nullptr) return false;
  workers = StartWorkers(kReadAheadWorkers, Work);
  return workers > 0;
}

}  // namespace

void ListSubdirectoriesAhead() { wanted = RoundTripsAreSlow(); }

uint64_t ReadAheadSubdirectories(const std::string& directory,
                                 const std::vector<ListedEntry>& entries) {
  if (!wanted || directory.empty() || !HasSubdirectory(entries)) return 0;
  // Without threads the descent reads every listing itself, as it can.
  if (workers == 0 && !StartReadingAhead()) {
    wanted = false;
    return 0;
  }
  uint64_t group;
  size_t asked;
  {
    Locked hold;
    shared->jobs.DropStale();
    // What the descent enters next goes before all that was asked earlier.
    asked = Ask(directory, entries, {UINT32_MAX - static_cast<uint32_t>(groups)}, attributeEpoch,
                group);
  }
  if (asked > 0) ReleaseSemaphore(shared->queued, static_cast<LONG>(asked), nullptr);
  return group;
}

// The first asked of the listings of that directory: one asked again since
// is no fresher, as all asked before the last key are dropped.
bool TakeReadAhead(const DirectoryIdentity& identity, std::vector<ListedEntry>& entries,
                   uint64_t& subdirectories) {
  if (workers == 0) return false;
  Locked hold;
  shared->jobs.DropStale();
  for (;;) {
    std::shared_ptr<Ahead> found;
    bool unsettled = false;
    for (const std::shared_ptr<Ahead>& job : shared->jobs.held) {
      if (!found && job->opened && job->identity == identity) found = job;
      if (job->state == AheadState::kReading && !job->identified) unsettled = true;
    }
    Taken taken = shared->jobs.Take(found, unsettled, entries, subdirectories);
    if (taken != Taken::kWait) return taken == Taken::kYes;
    WaitUntilSettled();
  }
}
