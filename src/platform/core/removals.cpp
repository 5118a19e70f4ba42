#include "platform/core/removals.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <vector>

#include "common/names.h"
#include "platform/core/freshness.h"

#include "platform/core/workers.h"
#include "platform/platform.h"

struct RemovalJob {
  AheadParent parent;  // the directory it is deleted from, held
  uint64_t plan = 0;    // the plan it was issued under
  uint64_t order = 0;   // of all issued, counted from 1
  std::string name;     // as the directory lists it
  std::string message;  // the path messages name it by
  int64_t size = 0;     // read just before it was issued
  bool done = false;    // under the lock
  bool removed = false;
};

namespace {

// The directory whose files are deleted on the workers now: held once for
// all its deletions, and no longer overlapped once it refused one, so that
// every later failure there is told in its place.
struct RemovalPlan {
  uint64_t number = 0;
  std::shared_ptr<Listing> listing;
  AheadParent parent;
  bool refused = false;
};

// Under the lock: the deletions issued that no worker began yet, those
// begun, and how many of those wait for their turn.
std::deque<std::shared_ptr<RemovalJob>>& queued = *new std::deque<std::shared_ptr<RemovalJob>>;
std::vector<const RemovalJob*>& begun = *new std::vector<const RemovalJob*>;
int awaitingTurn = 0;
// Of the main flow alone (read under the lock by it alone): every deletion
// issued and not yet given back, in the order issued.
std::deque<std::shared_ptr<RemovalJob>> issued;
uint64_t issuedEver = 0;
RemovalPlan plan;

// Read by the break handler, so atomics: a worker counts itself in before
// it looks whether the run stops, and the handler says the run stops before
// it counts them, so a deletion is either waited for or never made. Until
// the run stops, a stop waits a while for every deletion issued.
std::atomic<bool> stopping{false};
std::atomic<int> deleting{0};
std::atomic<int> unfinished{0};


}  // namespace

bool NextRemovalJob(std::shared_ptr<RemovalJob>& job) {
  if (queued.empty() || begun.size() >= kRemovalsAtOnce) return false;
  // The first in order whose directory takes one more now.
  for (auto at = queued.begin(); at != queued.end(); ++at) {
    const AheadDirectory* of = (*at)->parent.get();
    auto sameDirectory = [of](const RemovalJob* other) { return other->parent.get() == of; };
    if (std::count_if(begun.begin(), begun.end(), sameDirectory) >= kRemovalsOfADirectoryAtOnce)
      continue;
    begun.push_back(at->get());
    job = std::move(*at);
    queued.erase(at);
    return true;
  }
  return false;
}

void MakeRemoval(const std::shared_ptr<RemovalJob>& job) {
  bool removed = false;
  deleting.fetch_add(1);
  if (!stopping.load()) removed = RemoveFileAhead(*job->parent, job->name, *job);
  deleting.fetch_sub(1);
  AheadLock hold;
  begun.erase(std::find(begun.begin(), begun.end(), job.get()));
  WakeTurns(awaitingTurn);
  job->parent.reset();
  job->removed = removed;
  job->done = true;
  unfinished.fetch_sub(1);
  NoteSettled();
}

bool TakeRemovalTurn(const RemovalJob& job) {
  AheadLock hold;
  auto before = [&job](const RemovalJob* other) {
    return other->parent == job.parent && other->order < job.order;
  };
  while (std::any_of(begun.begin(), begun.end(), before)) {
    ++awaitingTurn;
    WaitForTurn();
    --awaitingTurn;
  }
  return !stopping.load();
}

bool IssueAhead(const std::shared_ptr<Listing>& listing, ListedEntry& entry, std::string_view name) {
  if (!OverlapsRemovals() || stopping.load()) return false;
  if (plan.listing != listing) plan = RemovalPlan{plan.number + 1, listing, HereForAhead()};
  if (!plan.parent || plan.refused) return false;
  auto job = std::make_shared<RemovalJob>();
  job->parent = plan.parent;
  job->plan = plan.number;
  job->order = ++issuedEver;
  job->name = entry.name;
  job->message = JoinPath(PlaceText(), name);
  job->size = entry.size;
  AwaitRoomForRemoval();
  {
    // Issued inside the gate: once the break handler holds it, or runs, no
    // deletion is issued any more.
    StopGate gate;
    AheadLock hold;
    issued.push_back(job);
    queued.push_back(std::move(job));
    unfinished.fetch_add(1);
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
  if (!job->removed && job->plan == plan.number) plan.refused = true;
  done = RemovalDone{std::move(job->message), job->removed, job->size};
  return true;
}

bool OverlapsRemovals() { return FilesAhead(); }

bool RemoveFile(std::string_view name, int64_t& size) {
  return RemoveOrIssue(name, size, false) == Removal::Removed;
}

Removal IssueRemoval(std::string_view name, int64_t& size) {
  Removal removal = RemoveOrIssue(name, size, OverlapsRemovals());
  if (removal == Removal::Failed && kForeseenFailureWaitsForEarlier) WaitForRemovals();
  return removal;
}

void AwaitRoomForRemoval() {
  // Only the main flow issues: below the bound there is room already.
  if (unfinished.load() < kRemovalsInFlight) return;
  AheadLock hold;
  while (unfinished.load() >= kRemovalsInFlight) WaitUntilSettled();
}

void WaitForRemovals() {
  // Only the main flow issues: with none unfinished there is nothing to
  // wait for, nor, where no worker ever started, a lock to take.
  if (unfinished.load() == 0) return;
  AheadLock hold;
  while (unfinished.load() > 0) WaitUntilSettled();
}

void LeavingDirectory() {
  if (!kRemovalsOutliveTheirDirectory) WaitForRemovals();
}

void SettleRemovals() {
  // Each was announced: on a share that answers, it is made. The main flow
  // may have been stopped holding the lock; the workers then wait for it,
  // and the stop for them no longer than this.
  int64_t until = MonotonicMs() + kStopLetsRemovalsFinishMs;
  while (unfinished.load() > 0 && MonotonicMs() < until) PauseBriefly();
  stopping.store(true);
  while (deleting.load() > 0) PauseBriefly();
}
