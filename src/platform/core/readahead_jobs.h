// The read-ahead's bookkeeping of listings: asked for, queued the next
// needed first, held until the descent takes them or passes them by, never
// more than a bound. Pure: the caller holds its lock around every call.
// Internal to src/platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/freshness.h"

enum class AheadState { kQueued, kReading, kRead };

// What every listing asked for carries besides what it is read by.
struct AheadJob {
  uint64_t group = 0;  // one for each directory whose subdirectories are asked
  std::string name;    // of the subdirectory, in its group
  uint32_t epoch = 0;  // attributeEpoch when the request that led here was made
  // Where the descent meets it: a later listing of the descent's own first,
  // then, within one, the order of a walk that goes down before it goes on.
  std::vector<uint32_t> rank;
  AheadState state = AheadState::kQueued;
};

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

  // Asked for before the program last waited: never served. Returns how
  // many were dropped.
  size_t DropStale(uint32_t epoch) {
    size_t before = held.size();
    Drop([epoch](const std::shared_ptr<Job>& job) { return job->epoch != epoch; });
    return before - held.size();
  }

  // Returns true when there is room for a job ranked `rank`, made if need be
  // by dropping the one not being read that the descent would meet last, if
  // it comes after this one.
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

  // Returns the next job to read, marked as being read; none when the queue
  // is empty.
  std::shared_ptr<Job> Next() {
    if (queue.empty()) return nullptr;
    std::shared_ptr<Job> job = std::move(queue.front());
    queue.pop_front();
    job->state = AheadState::kReading;
    return job;
  }

  // Returns true while `job` is still asked for; dropped, it is waited for
  // by no one, nor are its children.
  bool Live(const std::shared_ptr<Job>& job) const {
    return std::find(held.begin(), held.end(), job) != held.end();
  }

  // Returns the job of subdirectory `name` of group `group`, none when it
  // was not asked for or was dropped. What the descent would have met before
  // it (the subdirectories it passed over, and all asked below them) is
  // dropped: it is not entered any more. A job no worker began is dropped
  // too and not returned: the descent reads it sooner itself. One returned
  // stays held, so that a worker reading it still asks for its children.
  std::shared_ptr<Job> Meet(uint64_t group, const std::string& name) {
    auto found = std::find_if(held.begin(), held.end(), [&](const std::shared_ptr<Job>& job) {
      return job->group == group && job->name == name;
    });
    if (found == held.end()) return nullptr;
    std::shared_ptr<Job> job = *found;
    bool begun = job->state != AheadState::kQueued;
    Drop([&job, begun](const std::shared_ptr<Job>& other) {
      return (other == job && !begun) || other->rank < job->rank;
    });
    return begun ? job : nullptr;
  }
};
