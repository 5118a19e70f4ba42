#include "platform/core/readahead.h"

#include "platform/core/freshness.h"
#include "platform/core/place.h"
#include "platform/core/readahead_files.h"
#include "platform/core/readahead_jobs.h"
#include "platform/core/removals.h"
#include "platform/core/workers.h"
#include "platform/platform.h"

namespace {

constexpr size_t kListingsHeld = kAheadBound;

struct ListingJob : AheadJob {
  AheadParent parent;  // let go once read
  bool complete = false;
  DirectoryStamp stamp;
  ReadMoment read;  // taken before the stamp
  std::vector<ListedEntry> entries;
  uint64_t below = 0;  // the group its own subdirectories were asked in, 0: none
};

// Everything the workers share, under the lock. Never destroyed: workers
// still wait on it while the process ends.
struct Shared {
  AheadJobs<ListingJob> listings;
  uint64_t groups = 0;
  int reading = 0;  // workers reading a listing or a status
};
Shared& shared = *new Shared;

// Of the main flow alone.
int workers = 0;  // started; -1: none could be
bool listingsWanted = false;
// How many subdirectories are asked for at a time: halved each time a wait
// made listings asked for go unused, doubled each time one is served. A run
// that asks a question in every directory soon asks for none, and reads
// each listing itself, until two requests come with no wait between them.
size_t window = kAheadBound;
uint32_t lastAsked = 0;  // the epoch of the last request while none were asked

void DropStaleListings() {
  if (shared.listings.DropStale(attributeEpoch) > 0) window /= 2;
}

// Asks for `names` of `parent`, each ranked below `rank`. The lock is held.
// Returns their group, 0 when none was asked for; `asked`, how many were.
uint64_t Ask(const AheadParent& parent, const std::vector<std::string>& names,
             const std::vector<uint32_t>& rank, uint32_t epoch, int& asked) {
  uint64_t group = ++shared.groups;
  uint32_t order = 0;
  for (const std::string& name : names) {
    auto job = std::make_shared<ListingJob>();
    job->rank = rank;
    job->rank.push_back(order);
    if (!shared.listings.MakeRoom(job->rank, kListingsHeld)) break;
    job->parent = parent;
    job->name = name;
    job->group = group;
    job->epoch = epoch;
    ++order;
    shared.listings.Queue(std::move(job));
  }
  asked = static_cast<int>(order);
  return order == 0 ? 0 : group;
}

// The descent will want a listing's own subdirectories next: asked for as
// soon as it is read, they are on their way before the descent gets there.
void ReadListing(const std::shared_ptr<ListingJob>& job) {
  int64_t began = MonotonicMs();
  DirectoryStamp stamp;
  std::vector<ListedEntry> entries;
  AheadParent itself;
  bool complete = ReadSubdirectoryAhead(*job->parent, job->name, job->epoch, stamp, entries, itself);
  std::vector<std::string> below;
  if (complete && itself) below = SubdirectoriesInOrder(entries);
  int asked = 0;
  {
    AheadLock hold;
    job->parent.reset();
    job->complete = complete;
    job->stamp = stamp;
    job->read = {job->epoch, began};
    job->entries = std::move(entries);
    job->state = AheadState::kRead;
    if (!below.empty() && shared.listings.Live(job))
      job->below = Ask(itself, below, job->rank, job->epoch, asked);
    NoteSettled();
  }
  WakeWorkers(asked);
}

// A deletion issued is wanted sooner than any read, and a file about to be
// deleted sooner than any listing.
void Work() {
  LockAhead();
  for (;;) {
    std::shared_ptr<RemovalJob> removal;
    bool mayRead = shared.reading < kReadsInFlight;
    if (NextRemovalJob(removal)) {
      UnlockAhead();
      MakeRemoval(removal);
      LockAhead();
    } else if (std::shared_ptr<FileJob> file = mayRead ? NextFileJob() : nullptr) {
      ++shared.reading;
      UnlockAhead();
      ReadFileJob(file);
      LockAhead();
      --shared.reading;
    } else if (std::shared_ptr<ListingJob> job = mayRead ? shared.listings.Next() : nullptr) {
      ++shared.reading;
      UnlockAhead();
      ReadListing(job);
      LockAhead();
      --shared.reading;
    } else {
      WaitForWork();
    }
  }
}

bool Pays() {
  static const bool pays = ReadAheadPays();
  return pays;
}

// Without threads the program reads every listing and status itself.
bool HaveWorkers() {
  if (workers == 0) workers = StartWorkers(kWorkers, Work);
  if (workers == 0) workers = -1;
  writesWatched = workers > 0;
  return workers > 0;
}

}  // namespace

std::vector<std::string> SubdirectoriesInOrder(const std::vector<ListedEntry>& entries) {
  std::vector<const ListedEntry*> found;
  for (const ListedEntry& entry : entries)
    if (ListedAsSubdirectory(entry)) found.push_back(&entry);
  std::sort(found.begin(), found.end(),
            [](const ListedEntry* a, const ListedEntry* b) { return ListedBefore(*a, *b); });
  std::vector<std::string> names;
  names.reserve(found.size());
  for (const ListedEntry* entry : found) names.push_back(entry->name);
  return names;
}

void ListSubdirectoriesAhead() { listingsWanted = true; }

bool FilesAhead() { return Pays() && HaveWorkers(); }

bool WorkersStarted() { return workers > 0; }

bool ListingsAhead() { return listingsWanted && FilesAhead(); }

uint64_t AskSubdirectories(AheadParent parent, const std::vector<std::string>& names) {
  if (!parent || names.empty() || !ListingsAhead()) return 0;
  uint64_t group;
  int asked = 0;
  {
    AheadLock hold;
    DropStaleListings();
    if (window == 0) {
      if (lastAsked != attributeEpoch) {
        lastAsked = attributeEpoch;
        return 0;
      }
      window = 1;
    }
    // What the descent enters next goes before all that was asked earlier.
    uint32_t first = UINT32_MAX - static_cast<uint32_t>(shared.groups);
    std::vector<std::string> nearest(names.begin(),
                                         names.begin() + std::min(window, names.size()));
    group = Ask(parent, nearest, {first}, attributeEpoch, asked);
  }
  WakeWorkers(asked);
  return group;
}

uint64_t AskSubdirectoriesOf(AheadParent parent, const std::vector<ListedEntry>& entries) {
  if (!ListingsAhead()) return 0;
  return AskSubdirectories(std::move(parent), SubdirectoriesInOrder(entries));
}

bool TakeListing(uint64_t group, const std::string& name, const DirectoryStamp& entered,
                 std::vector<ListedEntry>& entries, uint64_t& below) {
  below = 0;
  if (workers <= 0 || group == 0) return false;
  AheadLock hold;
  DropStaleListings();
  std::shared_ptr<ListingJob> job = shared.listings.Meet(group, name);
  if (!job) return false;
  while (job->state != AheadState::kRead) WaitUntilSettled();
  shared.listings.Drop([&job](const std::shared_ptr<ListingJob>& other) { return other == job; });
  // Its subdirectories are proven one by one as the descent enters them,
  // whether or not this listing is served.
  below = job->below;
  if (!job->complete || !(job->stamp == entered) || !StillFresh(job->read)) return false;
  window = std::min(kAheadBound, window * 2);
  entries = std::move(job->entries);
  return true;
}

bool JustEntered(uint64_t& askedIn, std::string& name, DirectoryStamp& entered) {
  PlaceBase* here = CurrentPlace();
  if (here == nullptr || here->listed) return false;
  here->listed = true;
  askedIn = here->askedIn;
  name = here->name;
  entered = here->stamp;
  return true;
}

void NoteSubdirectoriesAsked(uint64_t group) {
  if (PlaceBase* here = CurrentPlace()) here->aheadGroup = group;
}
