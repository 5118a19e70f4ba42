// Deletions in flight together, on the read-ahead's workers: where every
// request is a round trip (a share) and no question waits between them, a
// sweep's deletions of files in the current directory are issued in the
// order the sweep makes them, each after the same checks the program makes
// of a file it deletes itself. The descent moves on while they are made, so
// that deletions of several directories are in flight at once: a file
// system that serves one directory's changes one at a time (the Linux
// kernel does, whatever the client issues) still serves several
// directories together. Internal to src/platform; platform.h gives the
// engine IssueRemoval, NextRemovalDone and SettleRemovals.
#pragma once

#include <memory>
#include <string>

#include "platform/core/listing.h"
#include "platform/core/readahead.h"

// How many the workers make at once.
constexpr int kRemovalsAtOnce = 16;
// How long a stop lets the workers go on with the deletions issued (each
// announced) before it lets them begin no other.
constexpr int64_t kStopLetsRemovalsFinishMs = 1000;

// --- Supplied by each backend ----------------------------------------------

// Deletes one file named literally as RemoveFile tells, or, with `overlap`,
// hands a file of the current directory that passed every check to
// IssueAhead instead of deleting it. Returns as IssueRemoval does, save that
// a failure does not wait for the deletions issued before it.
Removal RemoveOrIssue(std::string_view name, int64_t& size, bool overlap);

struct RemovalJob;

// Deletes file `name` of `parent` for `job`, the entry itself (a link,
// never its target), if it is still, as it is now, a file the program
// deletes: the status it was judged on is older than the deletion by the
// queue's wait. Returns true when it was deleted, false when it was made
// read-only since (refused by the system where it has a read-only bit,
// judged again where it has none), is gone, the run stopped, or the
// deletion failed.
bool RemoveFileAhead(const AheadDirectory& parent, const std::string& name, const RemovalJob& job);

// How many deletions of one directory the workers make at once: more only
// helps where the system makes them together, or where one may prepare
// while the one before it is made (it then waits in TakeRemovalTurn).
extern const int kRemovalsOfADirectoryAtOnce;

// How many deletions may be issued and not finished at once, in this and
// the directories after it: enough to keep kRemovalsAtOnce busy where each
// directory takes kRemovalsOfADirectoryAtOnce. A failure nothing could
// foresee is told at most this many announcements, less one, late.
extern const int kRemovalsInFlight;

// True where a deletion issued names its directory by what the backend
// holds it by, so that it may go on once the process has left it; false
// where it names it by path, which leads elsewhere once the directory is
// moved: the backend then calls LeavingDirectory before it leaves one.
extern const bool kRemovalsOutliveTheirDirectory;

// True where a failure foreseen waits for every deletion issued before it,
// so that its line follows theirs as in a sequential run: where a
// directory's deletions are made together, or all waited for as the descent
// leaves it, the wait is short. False where a directory's deletions are
// made one after another while the descent goes on: the wait would last as
// long as all of those, and stop every later directory's deletions
// meanwhile. The failure's line still comes right after its announcement;
// a failure before it that nothing foretold may then be told after it, as
// late as such a failure ever is.
extern const bool kForeseenFailureWaitsForEarlier;

// --- The core --------------------------------------------------------------

// Returns true, having issued the deletion of `entry` of `listing` (a
// listing of the current directory), when removals are overlapped and the
// directory has refused none; the entry is then marked removed, and the
// result is given back by `name` joined to PlaceText. False: nothing was
// issued, and the caller deletes the file itself.
bool IssueAhead(const std::shared_ptr<Listing>& listing, ListedEntry& entry, std::string_view name);

// Waits until every deletion issued has finished.
void WaitForRemovals();
// Called by a backend before the process leaves the directory it stands
// in: where deletions do not outlive their directory, waits for them.
void LeavingDirectory();

// For a backend's RemoveFileAhead, the lock not held: waits until every
// deletion issued before `job` in its directory has been made. Returns
// true when it may be made now, false when the run stops meanwhile.
bool TakeRemovalTurn(const RemovalJob& job);

// For the workers, the lock held: the next deletion to make, or false.
bool NextRemovalJob(std::shared_ptr<RemovalJob>& job);
// For the workers, the lock not held: makes the deletion, unless the run is
// stopping, then notes it done.
void MakeRemoval(const std::shared_ptr<RemovalJob>& job);
