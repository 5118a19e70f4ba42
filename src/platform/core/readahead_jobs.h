// The bookkeeping the read-aheads of both platforms share: the listings
// asked for, queued the next needed first and held until the descent takes
// them or passes them by, never more than a bound. The caller holds its own
// lock around every call. Internal to src/platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/core/listing.h"

enum class AheadState { kQueued, kReading, kRead };

// What every listing asked for carries besides what it is read by.
struct AheadJob {
  uint64_t group = 0;  // one for each listing whose subdirectories are read
  uint32_t epoch = 0;  // attributeEpoch when the request that led here was made
  // Where the descent meets it: a later listing of the descent's own first,
  // then, within one, the order of a walk that goes down before it goes on.
  std::vector<uint32_t> rank;
  uint64_t below = 0;  // the group its own subdirectories were asked in, 0: none
  AheadState state = AheadState::kQueued;
  bool identified = false;  // opened or failed: what it is settled
  bool opened = false;
  bool complete = false;  // the listing was read
  std::vector<ListedEntry> entries;
};

// The subdirectories among `entries` in the order the descent enters them,
// which need not be the order the entries are held in.
template <typename Subdirectory>
std::vector<const ListedEntry*> InDescentOrder(const std::vector<ListedEntry>& entries,
                                               Subdirectory subdirectory) {
  std::vector<const ListedEntry*> found;
  for (const ListedEntry& entry : entries)
    if (subdirectory(entry)) found.push_back(&entry);
  std::sort(found.begin(), found.end(),
            [](const ListedEntry* a, const ListedEntry* b) { return ListedBefore(*a, *b); });
  return found;
}

enum class Taken { kYes, kNo, kWait };

template <typename Job>
struct AheadJobs {
  std::deque<std::shared_ptr<Job>> queue;
  std::vector<std::shared_ptr<Job>> held;

  // Drops the jobs `drop` picks, queued or held; one being read finishes on
  // its worker and is then let go.
  template <typename Pick>
  void Drop(Pick drop) {
    std::erase_if(queue, drop);
    std::erase_if(held, drop);
  }

  // Asked for before the program last waited for a key: never served.
  void DropStale() {
    Drop([](const std::shared_ptr<Job>& job) { return job->epoch != attributeEpoch; });
  }

  // Makes room for a job ranked `rank` by dropping the one not being read
  // that the descent would meet last, if it comes after this one.
  bool MakeRoom(const std::vector<uint32_t>& rank, size_t bound) {
    if (held.size() < bound) return true;
    auto last = held.end();
    for (auto job = held.begin(); job != held.end(); ++job)
      if ((*job)->state != AheadState::kReading &&
          (last == held.end() || (*last)->rank < (*job)->rank))
        last = job;
    if (last == held.end() || !(rank < (*last)->rank)) return false;
    std::shared_ptr<Job> dropped = *last;
    Drop([&dropped](const std::shared_ptr<Job>& job) { return job == dropped; });
    return true;
  }

  void Queue(std::shared_ptr<Job> job) {
    held.push_back(job);
    auto at = std::upper_bound(queue.begin(), queue.end(), job,
                               [](const std::shared_ptr<Job>& a, const std::shared_ptr<Job>& b) {
                                 return a->rank < b->rank;
                               });
    queue.insert(at, std::move(job));
  }

  // The next job to read, marked as being read; none when the queue is empty.
  std::shared_ptr<Job> Next() {
    if (queue.empty()) return nullptr;
    std::shared_ptr<Job> job = std::move(queue.front());
    queue.pop_front();
    job->state = AheadState::kReading;
    return job;
  }

  // Still asked for: dropped, it is waited for by no one, nor are its children.
  bool Live(const std::shared_ptr<Job>& job) const {
    return std::find(held.begin(), held.end(), job) != held.end();
  }

  // Serves `found`, the job of the directory the descent entered, once read;
  // `unsettled`: a job not yet identified may still turn out to be it.
  Taken Take(const std::shared_ptr<Job>& found, bool unsettled, std::vector<ListedEntry>& entries,
             uint64_t& subdirectories) {
    if (found && found->state == AheadState::kRead) {
      // What the descent would have met before this, subdirectories it
      // passed over and all asked for below them, is not entered any more.
      Drop([&found](const std::shared_ptr<Job>& job) {
        return job == found || job->rank < found->rank;
      });
      if (!found->complete) return Taken::kNo;
      entries = std::move(found->entries);
      subdirectories = found->below;
      return Taken::kYes;
    }
    return !found && !unsettled ? Taken::kNo : Taken::kWait;
  }
};
