#include "platform/core/removals.h"

#include <atomic>
#include <deque>

#include "platform/core/workers.h"
#include "platform/platform.h"

struct RemovalJob {
  AheadParent parent;  // the directory it is deleted from, held
  const Listing* of = nullptr;  // that directory's listing
  std::string name;     // as the directory lists it
  std::string message;  // as the sweep named it
  int64_t size = 0;     // read just before it was issued
  bool done = false;    // under the lock
  bool removed = false;
};

namespace {

// The directory whose files are deleted on the workers now: held once for
// all its deletions, and no longer overlapped once it refused one, so that
// every later failure there is told in its place.
struct RemovalPlan {
  std::shared_ptr<Listing> listing;
  AheadParent parent;
  bool refused = false;
};

// Under the lock: the deletions issued that no worker began yet.
std::deque<std::shared_ptr<RemovalJob>>& queued = *new std::deque<std::shared_ptr<RemovalJob>>;
// Of the main flow alone (read under the lock by it alone): every deletion
// issued and not yet given back, in the order issued.
std::deque<std::shared_ptr<RemovalJob>> issued;
RemovalPlan plan;

// Read by the break handler, so atomics: a worker counts itself in before
// it looks whether the run stops, and the handler says the run stops before
// it counts them, so a deletion is either waited for or never made.
std::atomic<bool> stopping{false};
std::atomic<int> deleting{0};

// Returns how many deletions issued are not done; the lock is held.
int NotDoneLocked() {
  int count = 0;
  for (const std::shared_ptr<RemovalJob>& job : issued) count += job->done ? 0 : 1;
  return count;
}

}  // namespace

bool NextRemovalJob(std::shared_ptr<RemovalJob>& job) {
  if (queued.empty()) return false;
  job = std::move(queued.front());
  queued.pop_front();
  return true;
}

void MakeRemoval(const std::shared_ptr<RemovalJob>& job) {
  bool removed = false;
  deleting.fetch_add(1);
  if (!stopping.load()) removed = RemoveFileAhead(*job->parent, job->name);
  deleting.fetch_sub(1);
  AheadLock hold;
  job->parent.reset();
  job->removed = removed;
  job->done = true;
  NoteSettled();
}

bool IssueAhead(const std::shared_ptr<Listing>& listing, ListedEntry& entry, std::string_view message) {
  if (!OverlapsRemovals() || stopping.load()) return false;
  if (plan.listing != listing) {
    WaitForRemovals();
    plan = RemovalPlan{listing, HereForAhead()};
  }
  if (!plan.parent || plan.refused) return false;
  auto job = std::make_shared<RemovalJob>();
  job->parent = plan.parent;
  job->of = listing.get();
  job->name = entry.name;
  job->message.assign(message);
  job->size = entry.size;
  {
    AheadLock hold;
    while (NotDoneLocked() >= kRemovalsInFlight) WaitUntilSettled();
  }
  {
    // Issued inside the gate: once the break handler holds it, or runs, no
    // deletion is issued any more.
    StopGate gate;
    AheadLock hold;
    issued.push_back(job);
    queued.push_back(std::move(job));
  }
  WakeWorkers(1);
  // A later search of the directory no longer finds it; should the deletion
  // fail, the failure is told once, as it comes.
  entry.removed = true;
  return true;
}

bool NextRemovalDone(bool wait, RemovalDone& done) {
  if (issued.empty()) return false;
  std::shared_ptr<RemovalJob> job;
  {
    AheadLock hold;
    for (;;) {
      for (auto at = issued.begin(); at != issued.end(); ++at) {
        if (!(*at)->done) continue;
        job = std::move(*at);
        issued.erase(at);
        break;
      }
      if (job || !wait) break;
      WaitUntilSettled();
    }
  }
  if (!job) return false;
  if (!job->removed && job->of == plan.listing.get()) plan.refused = true;
  done = RemovalDone{std::move(job->message), job->removed, job->size};
  return true;
}

bool OverlapsRemovals() { return FilesAhead(); }

bool RemoveFile(std::string_view name, int64_t& size) {
  return RemoveOrIssue(name, size, false) == Removal::Removed;
}

Removal IssueRemoval(std::string_view name, int64_t& size) {
  Removal removal = RemoveOrIssue(name, size, OverlapsRemovals());
  if (removal == Removal::Failed) WaitForRemovals();
  return removal;
}

void WaitForRemovals() {
  AheadLock hold;
  while (NotDoneLocked() > 0) WaitUntilSettled();
}

void SettleRemovals() {
  stopping.store(true);
  while (deleting.load() > 0) PauseBriefly();
}
