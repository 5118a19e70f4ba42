// Deletions in flight together, on the read-ahead's workers: where every
// request is a round trip (a share) and no question waits between them, a
// sweep's deletions of files in the current directory are issued in the
// order the sweep makes them, each after the same checks the program makes
// of a file it deletes itself, and at most kRemovalsInFlight at a time.
// Internal to src/platform; platform.h gives the engine IssueRemoval,
// NextRemovalDone and SettleRemovals.
#pragma once

#include <memory>
#include <string>

#include "platform/core/listing.h"
#include "platform/core/readahead.h"

// How many deletions may be in flight at once. A failure nothing could
// foresee is told at most this many announcements late.
constexpr int kRemovalsInFlight = 16;

// --- Supplied by each backend ----------------------------------------------

// Deletes one file named literally as RemoveFile tells, or, with `overlap`,
// hands a file of the current directory that passed every check to
// IssueAhead instead of deleting it. Returns as IssueRemoval does, save that
// a failure does not wait for the deletions issued before it.
Removal RemoveOrIssue(std::string_view name, int64_t& size, bool overlap);

// Deletes file `name` of `parent`, the entry itself (a link, never its
// target). Returns true when it was deleted.
bool RemoveFileAhead(const AheadDirectory& parent, const std::string& name);

// --- The core --------------------------------------------------------------

// Returns true, having issued the deletion of `entry` of `listing` (a
// listing of the current directory), when removals are overlapped and the
// directory has refused none; the entry is then marked removed, and
// `message` is the name the result is given back by. False: nothing was
// issued, and the caller deletes the file itself.
bool IssueAhead(const std::shared_ptr<Listing>& listing, ListedEntry& entry, std::string_view message);

// Waits until every deletion issued has finished.
void WaitForRemovals();

// For the workers, the lock held: the next deletion to make, or false.
struct RemovalJob;
bool NextRemovalJob(std::shared_ptr<RemovalJob>& job);
// For the workers, the lock not held: makes the deletion, unless the run is
// stopping, then notes it done.
void MakeRemoval(const std::shared_ptr<RemovalJob>& job);
