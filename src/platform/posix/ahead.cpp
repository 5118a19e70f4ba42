// What the read-ahead asks of POSIX: a directory held by its descriptor,
// its subdirectories opened relative to it, and file statuses read the same
// way, each as the descent itself would read them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/core/readahead.h"
#include "platform/core/removals.h"
#include "platform/posix/descent.h"
#include "platform/posix/fd.h"
#include "platform/posix/listing.h"

struct AheadDirectory {
  Fd fd;
  MountTag mount;
};

// Opened as a place first and judged by what it is: a link, a mount point
// or a read-only directory is never opened for reading, so a stalled share
// mounted inside the tree is never asked for its listing.
bool ReadSubdirectoryAhead(const AheadDirectory& parent, const std::string& name, uint32_t,
                           DirectoryStamp& stamp, std::vector<ListedEntry>& entries,
                           AheadParent& itself) {
#ifdef O_PATH
  Fd place(openat(parent.fd.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
#else
  Fd place(openat(parent.fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
#endif
  // What the kernel keeps of it, without a request: a status it keeps from
  // before a change shows times the descent's own read as it enters cannot
  // match, so at worst a listing read here is not served. The descent's
  // test as it enters decides.
  struct stat st;
  MountTag mount;
  if (!place || !IdentityWithMount(place.get(), st, mount) || !S_ISDIR(st.st_mode)) return false;
  if (!MayEnter(DirectoryAttributes(st, SameMount(parent.mount, mount, place.get()), name)))
    return false;
  // Taken before the read: any change to the directory after it shows in
  // the stamp the descent reads as it enters, and the listing is not served.
  stamp = StampOf(st, mount);
  Fd reading(openat(place.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!reading) return false;
  if (!ReadEntries(reading.get(), entries)) return false;
  KeepEntries(entries);
  itself = std::make_shared<AheadDirectory>(AheadDirectory{std::move(place), mount});
  return true;
}

bool ReadFileAhead(const AheadDirectory& parent, const std::string& name, uint32_t& attributes,
                   int64_t& size) {
  struct stat st;
  if (fstatat(parent.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
    return false;
  attributes = FileAttributes(st);
  size = st.st_size;
  return true;
}

// The file was judged on a status read before it was issued, and waited in
// the queue since: it is judged again while the deletion before it in the
// directory is made, and once more if the wait for that outlasted the read,
// so that its status is never older at its deletion than a round trip.
bool RemoveFileAhead(const AheadDirectory& parent, const std::string& name, const RemovalJob& job) {
  using Clock = std::chrono::steady_clock;
  const int dir = parent.fd.get();
  Clock::time_point asked = Clock::now();
  if (!IsRemovableNow(dir, name.c_str())) return false;
  Clock::time_point read = Clock::now();
  if (!TakeRemovalTurn(job)) return false;
  if (Clock::now() - read > read - asked && !IsRemovableNow(dir, name.c_str())) return false;
  return unlinkat(dir, name.c_str(), 0) == 0;
}

// The kernel takes a directory's lock for each unlink in it, whatever the
// file system, so a third at a time there only waits; the second reads its
// file's status while the first is made (one request after the other, each
// deletion on a share took 1.6 times as long). Each is made through the
// directory's own descriptor, which stays the directory's wherever it is
// moved.
const int kRemovalsOfADirectoryAtOnce = 2;
const bool kRemovalsOutliveTheirDirectory = true;
// Two at a time in each, the deletions at once must come from several
// directories: a build tree's directory holds a dozen or two files to
// delete, and 128 announced ahead keep five or six of them going. Fewer
// left the share idle between directories (on a tree of 200 such
// directories at 0.5 ms a request, 16 took 2.3 times as long as 64, and
// over sshfs 64 took 1.2 times as long as 128).
const int kRemovalsInFlight = 128;
// Waiting for them before a read-only file's line made that tree, with a
// read-only file or two in most directories, take 4 times as long as the
// same deletions made 16 at once in any order; without the wait, about as
// long.
const bool kForeseenFailureWaitsForEarlier = false;

AheadParent HereForAhead() {
  Place* here = Here();
  if (here == nullptr) return nullptr;
  Fd fd(fcntl(here->fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!fd) return nullptr;
  return std::make_shared<AheadDirectory>(AheadDirectory{std::move(fd), here->mount});
}

bool RoundTripsAreSlow();

// Each group asked for keeps its parent open, and each worker one more
// descriptor: under a tight limit on open files they are left to the descent.
bool ReadAheadPays() {
  struct rlimit limit;
  return RoundTripsAreSlow() && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= 256;
}

bool ReadsFilesAhead() { return FilesAhead(); }
