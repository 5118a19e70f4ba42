#include "platform/readahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/listing-posix.h"
#include "platform/pool.h"

namespace {

constexpr int kReadAheadWorkers = 16;
constexpr size_t kReadAheadHeld = 64;

// The directory whose subdirectories are read, open until the last of them
// has been opened.
struct Parent {
  int fd;
  explicit Parent(int opened) : fd(opened) {}
  ~Parent() { close(fd); }
};

enum class State { kQueued, kReading, kRead };

struct Ahead {
  std::shared_ptr<Parent> parent;
  std::string name;
  uint64_t group = 0;  // one for each listing whose subdirectories are read
  size_t order = 0;    // the place among them the descent enters it at
  uint32_t epoch = 0;  // attributeEpoch when asked for
  State state = State::kQueued;
  bool identified = false;  // opened or failed: device and inode settled
  bool opened = false;
  bool complete = false;    // the listing was read
  uint64_t device = 0;
  uint64_t inode = 0;
  struct stat status {};
  MountTag mount;
  std::vector<ListedEntry> entries;
};

// Under one lock: the jobs not yet started, the next needed first, and
// every job asked for and not yet taken or dropped.
struct Shared {
  std::mutex lock;
  std::condition_variable queued;
  std::condition_variable settled;
  std::deque<std::shared_ptr<Ahead>> queue;
  std::vector<std::shared_ptr<Ahead>> held;
};

// Never destroyed: workers still wait on it while the process ends.
Shared& shared = *new Shared;
bool wanted = false;
int workers = 0;
uint64_t groups = 0;

void Read(Ahead& job) {
  int fd = openat(job.parent->fd, job.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  MountTag mount;
  bool opened = fd >= 0 && StatusWithMount(fd, "", st, mount);
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    job.parent.reset();
    job.identified = true;
    job.opened = opened;
    if (opened) {
      job.device = st.st_dev;
      job.inode = st.st_ino;
      job.status = st;
      job.mount = mount;
    }
  }
  shared.settled.notify_all();
  bool complete = false;
  if (opened) {
    if (DIR* dir = fdopendir(fd)) {
      ReadEntries(dir, job.entries);
      closedir(dir);
      fd = -1;
      complete = true;
    }
  }
  if (fd >= 0) close(fd);
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    job.complete = complete;
    job.state = State::kRead;
  }
  shared.settled.notify_all();
}

void Work() {
  for (;;) {
    std::shared_ptr<Ahead> job;
    {
      std::unique_lock<std::mutex> hold(shared.lock);
      shared.queued.wait(hold, [] { return !shared.queue.empty(); });
      job = std::move(shared.queue.front());
      shared.queue.pop_front();
      job->state = State::kReading;
    }
    Read(*job);
  }
}

// Drops the jobs `drop` picks, queued or held; one being read finishes on
// its worker and is then let go. The lock is held.
template <typename Pick>
void Drop(Pick drop) {
  std::erase_if(shared.queue, drop);
  std::erase_if(shared.held, drop);
}

// Asked for before the program last waited for a key: never served.
void DropStale() {
  Drop([](const std::shared_ptr<Ahead>& job) { return job.get()->epoch != attributeEpoch; });
}

// Makes room by dropping the job needed last that has not started.
bool MakeRoom() {
  if (shared.held.size() < kReadAheadHeld) return true;
  if (shared.queue.empty()) return false;
  std::shared_ptr<Ahead> last = std::move(shared.queue.back());
  shared.queue.pop_back();
  std::erase(shared.held, last);
  return true;
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
void ListSubdirectoriesAhead() {
  struct rlimit limit;
  wanted = RoundTripsAreSlow() && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= 256;
}

uint64_t ReadAheadSubdirectories(int directoryFd, const std::vector<ListedEntry>& entries) {
  std::vector<int32_t> below;
  if (wanted) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].typeKnown && entries[i].listedAttributes == kAttrDirectory)
        below.push_back(static_cast<int32_t>(i));
  }
  if (!below.empty() && workers == 0) {
    workers = StartWorkers(kReadAheadWorkers, Work);
    // Without threads the descent reads every listing itself, as it can.
    if (workers == 0) wanted = false;
  }
  if (below.empty() || workers == 0) {
    close(directoryFd);
    return 0;
  }
  std::sort(below.begin(), below.end(),
            [&entries](int32_t a, int32_t b) { return ListedBefore(entries[a], entries[b]); });
  auto parent = std::make_shared<Parent>(directoryFd);
  uint64_t group = ++groups;
  std::vector<std::shared_ptr<Ahead>> asked;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    DropStale();
    for (size_t order = 0; order < below.size() && MakeRoom(); ++order) {
      auto job = std::make_shared<Ahead>();
      job->parent = parent;
      job->name = entries[below[order]].name;
      job->group = group;
      job->order = order;
      job->epoch = attributeEpoch;
      shared.held.push_back(job);
      asked.push_back(std::move(job));
    }
    // A descent enters these before what earlier listings asked for.
    shared.queue.insert(shared.queue.begin(), asked.begin(), asked.end());
  }
  shared.queued.notify_all();
  return group;
}

bool ReadAheadStatus(uint64_t group, const std::string& name, struct stat& status, MountTag& mount) {
  std::unique_lock<std::mutex> hold(shared.lock);
  DropStale();
  for (;;) {
    auto job = std::find_if(shared.held.begin(), shared.held.end(), [&](const std::shared_ptr<Ahead>& job) {
      return job->group == group && job->name == name;
    });
    if (job == shared.held.end() || (*job)->state == State::kQueued) return false;
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

bool TakeReadAhead(uint64_t device, uint64_t inode, std::vector<ListedEntry>& entries) {
  if (workers == 0) return false;
  std::unique_lock<std::mutex> hold(shared.lock);
  DropStale();
  for (;;) {
    std::shared_ptr<Ahead> found;
    bool unsettled = false;
    for (const std::shared_ptr<Ahead>& job : shared.held) {
      if (job->opened && job->device == device && job->inode == inode) found = job;
      if (job->state == State::kReading && !job->identified) unsettled = true;
    }
    if (found && found->state == State::kRead) {
      // Subdirectories of the same listing that the descent passed over are
      // not entered any more.
      Drop([&found](const std::shared_ptr<Ahead>& job) {
        return job == found || (job->group == found->group && job->order < found->order);
      });
      if (!found->complete) return false;
      entries = std::move(found->entries);
      return true;
    }
    if (!found && !unsettled) return false;
    shared.settled.wait(hold);
  }
}
