#include "platform/posix/readahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/listing.h"
#include "platform/core/workers.h"
#include "platform/core/readahead_jobs.h"
#include "platform/posix/readahead_shared.h"

namespace {

constexpr int kReadAheadWorkers = 16;
constexpr size_t kReadAheadHeld = 64;

}  // namespace

struct Ahead : AheadJob {
  std::shared_ptr<Parent> parent;
  std::string name;
  struct stat status {};  // device and inode tell the directory the descent enters
  MountTag mount;
};

// Never destroyed: workers still wait on it while the process ends.
Shared& shared = *new Shared;
int workers = 0;

namespace {

bool wanted = false;
uint64_t groups = 0;

uint64_t Ask(int fd, const std::vector<ListedEntry>& entries, const std::vector<uint32_t>& rank,
             uint32_t epoch);

bool HasSubdirectory(const std::vector<ListedEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(), ListedAsSubdirectory);
}

void Read(std::shared_ptr<Ahead> job) {
  int fd = openat(job->parent->fd, job->name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  MountTag mount;
  bool opened = fd >= 0 && StatusWithMount(fd, "", st, mount);
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    job->parent.reset();
    job->identified = true;
    job->opened = opened;
    if (opened) {
      job->status = st;
      job->mount = mount;
    }
  }
  shared.settled.notify_all();
  bool complete = false;
  int again = -1;
  if (opened) {
    if (DIR* dir = fdopendir(fd)) {
      ReadEntries(dir, job->entries);
      KeepEntries(job->entries);
      // The descent will want this directory's own subdirectories next: asked
      // for now, through the descriptor it was read by, they are on their way
      // before the descent gets here.
      if (HasSubdirectory(job->entries)) again = fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0);
      closedir(dir);
      fd = -1;
      complete = true;
    }
  }
  if (fd >= 0) close(fd);
  bool asked = false;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    job->complete = complete;
    job->state = AheadState::kRead;
    if (again >= 0 && shared.jobs.Live(job)) {
      job->below = Ask(again, job->entries, job->rank, job->epoch);
      asked = job->below != 0;
    } else if (again >= 0) {
      close(again);
    }
  }
  shared.settled.notify_all();
  if (asked) shared.queued.notify_all();
}

// A file about to be deleted is wanted sooner than any listing.
void Work() {
  for (;;) {
    std::shared_ptr<FileAhead> file;
    std::shared_ptr<Ahead> job;
    {
      std::unique_lock<std::mutex> hold(shared.lock);
      shared.queued.wait(hold, [] { return !shared.files.empty() || !shared.jobs.queue.empty(); });
      if (!shared.files.empty()) {
        file = std::move(shared.files.front());
        shared.files.pop_front();
        file->state = AheadState::kReading;
      } else {
        job = shared.jobs.Next();
      }
    }
    if (file)
      ReadFile(file);
    else
      Read(std::move(job));
  }
}

// Asks for the plain subdirectories among `entries`, in name order, of the
// directory open as `fd`, which this takes, each ranked below `rank`. The
// lock is held. Returns their group, 0 when none was asked for.
uint64_t Ask(int fd, const std::vector<ListedEntry>& entries, const std::vector<uint32_t>& rank,
             uint32_t epoch) {
  auto parent = std::make_shared<Parent>(fd);
  uint64_t group = ++groups;
  uint32_t order = 0;
  for (const ListedEntry* entry : InDescentOrder(entries, ListedAsSubdirectory)) {
    auto job = std::make_shared<Ahead>();
    job->rank = rank;
    job->rank.push_back(order);
    if (!shared.jobs.MakeRoom(job->rank, kReadAheadHeld)) break;
    job->parent = parent;
    job->name = entry->name;
    job->group = group;
    ++order;
    job->epoch = epoch;
    shared.jobs.Queue(std::move(job));
  }
  return order == 0 ? 0 : group;
}

// Reading ahead pays where every request is a round trip: a share, a FUSE
// file system. On a local disk the threads cost more than they save.
// KELVO_READ_AHEAD=1 or 0 decides instead, for tests and for a file system
// not named here.
bool RoundTripsAreSlow() {
  const char* forced = getenv("KELVO_READ_AHEAD");
  if (forced != nullptr && forced[0] != '\0') return forced[0] == '1';
  struct statfs fs;
  if (statfs(".", &fs) != 0) return false;
  switch (static_cast<uint32_t>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE: sshfs and the like
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x0BD00BD0:  // Lustre
      return true;
    default:
      return false;
  }
}

}  // namespace

// Each group asked for keeps its parent open, and each worker one more
// descriptor: under a tight limit on open files they are left to the descent.
bool ReadsFilesAhead() {
  static int pays = -1;
  if (pays < 0) {
    struct rlimit limit;
    pays = RoundTripsAreSlow() && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= 256;
  }
  return pays == 1 && workers >= 0;
}

void ListSubdirectoriesAhead() { wanted = ReadsFilesAhead(); }

bool ListingsReadAhead() { return wanted && workers >= 0; }

// Without threads the program reads every listing and status itself, as it can.
bool HaveWorkers() {
  if (workers == 0) workers = StartWorkers(kReadAheadWorkers, Work);
  if (workers == 0) workers = -1;
  return workers > 0;
}

uint64_t ReadAheadSubdirectories(int directoryFd, const std::vector<ListedEntry>& entries) {
  bool below = wanted && HasSubdirectory(entries);
  if (!below || !HaveWorkers()) {
    close(directoryFd);
    return 0;
  }
  uint64_t group;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.jobs.DropStale();
    // What the descent enters next goes before all that was asked earlier.
    group = Ask(directoryFd, entries, {UINT32_MAX - static_cast<uint32_t>(groups)}, attributeEpoch);
  }
  shared.queued.notify_all();
  return group;
}

bool ReadAheadStatus(uint64_t group, const std::string& name, struct stat& status, MountTag& mount) {
  std::unique_lock<std::mutex> hold(shared.lock);
  shared.jobs.DropStale();
  for (;;) {
    auto job = std::find_if(shared.jobs.held.begin(), shared.jobs.held.end(),
                            [&](const std::shared_ptr<Ahead>& job) { return job->group == group && job->name == name; });
    if (job == shared.jobs.held.end() || (*job)->state == AheadState::kQueued) return false;
    if ((*job)->identified) {
      if ((*job)->opened) {
        status = (*job)->status;
        mount = (*job)->mount;
      }
      return (*job)->opened;
    }
    shared.settled.wait(hold);
  }
}

bool TakeReadAhead(uint64_t device, uint64_t inode, std::vector<ListedEntry>& entries,
                   uint64_t& subdirectories) {
  if (workers <= 0) return false;
  std::unique_lock<std::mutex> hold(shared.lock);
  shared.jobs.DropStale();
  for (;;) {
    std::shared_ptr<Ahead> found;
    bool unsettled = false;
    for (const std::shared_ptr<Ahead>& job : shared.jobs.held) {
      if (job->opened && job->status.st_dev == device && job->status.st_ino == inode) found = job;
      if (job->state == AheadState::kReading && !job->identified) unsettled = true;
    }
    Taken taken = shared.jobs.Take(found, unsettled, entries, subdirectories);
    if (taken != Taken::kWait) return taken == Taken::kYes;
    shared.settled.wait(hold);
  }
}
