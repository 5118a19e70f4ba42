// When what was read of the file system stops counting as current. Anything
// read before the program last waited, for a key or on a write to standard
// output that could not go at once, is read again: the tree may have changed
// meanwhile. What the read-ahead read on its workers counts for a short while
// at most besides, about as long as a network client trusts its own cache of
// attributes. Internal to src/platform.
#pragma once

#include <cstdint>

// Bumped each time the program waited; what was read in an earlier one is stale.
extern uint32_t attributeEpoch;

// How long a listing or status read ahead is served after it was read.
constexpr int64_t kAheadFreshMs = 1000;

// When something was read: the epoch and the monotonic clock, in ms.
struct ReadMoment {
  uint32_t epoch = 0;
  int64_t ms = 0;
};

// The monotonic clock in ms; each backend reads its own.
int64_t MonotonicMs();

// Now, as a moment of reading.
inline ReadMoment MomentNow() { return {attributeEpoch, MonotonicMs()}; }

// True while what was read at `read` may still be served: no wait since, and
// younger than kAheadFreshMs.
inline bool StillFresh(const ReadMoment& read) {
  return read.epoch == attributeEpoch && MonotonicMs() - read.ms < kAheadFreshMs;
}

// The program waited: for a key, or on its output.
inline void NoteWaited() { ++attributeEpoch; }

// A write to standard output, or a read of a key, that took longer than
// this had to wait.
constexpr int64_t kWaitedMs = 20;

// Set once the read-ahead runs: the output writes then also look, before
// each write, whether it would wait, where the system can tell.
extern bool writesWatched;
