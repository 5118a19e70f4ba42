// The read-ahead, one for both builds: where every request is a round trip
// (a share), listings of the subdirectories the descent will enter, and the
// status of the files the sweep is about to delete, are read on worker
// threads while the main flow works. It only fetches early: what it read is
// served only to the very directory or file it was read of, only while
// fresh (freshness.h), and the descent and the sweep decide on it by their
// own checks as if they had read it themselves. At most 16 reads are in
// flight, 64 listings and 64 statuses asked for or held. Internal to
// src/platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/listing.h"

// A directory held for the workers: its children are read relative to it.
// Each backend defines it (a descriptor, or a full path).
struct AheadDirectory;
using AheadParent = std::shared_ptr<AheadDirectory>;

// What identifies a directory (POSIX: device, inode and mount ID; Windows:
// volume serial and file index) and shows it unchanged since it was read
// (its change and modification times).
struct DirectoryStamp {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t mount = 0;
  int64_t changed = 0;
  int64_t modified = 0;
  bool SameDirectory(const DirectoryStamp& other) const {
    return volume == other.volume && index == other.index && mount == other.mount;
  }
  bool operator==(const DirectoryStamp&) const = default;
};

// How many listings, and how many statuses, are asked for or held at most.
constexpr size_t kAheadBound = 64;

// --- Supplied by each backend ----------------------------------------------

// Reads subdirectory `name` of `parent` if the descent would enter it, as
// MayEnter tells from what it is once opened (never through a link, never
// onto another mount): its entries as the reader notes them, and `stamp` as
// taken before the read. `itself` then holds it for its own subdirectories.
// Returns false when it is not one to enter or was not read whole.
// Attributes the read gives are noted as read at `epoch`.
bool ReadSubdirectoryAhead(const AheadDirectory& parent, const std::string& name, uint32_t epoch,
                           DirectoryStamp& stamp, std::vector<ListedEntry>& entries,
                           AheadParent& itself);
// Reads the attributes and size of file `name` of `parent`, a link itself and
// never its target. Returns false when they cannot be read.
bool ReadFileAhead(const AheadDirectory& parent, const std::string& name, uint32_t& attributes,
                   int64_t& size);
// Returns true where reading ahead pays: requests are round trips here, or
// KELVO_READ_AHEAD=1 says so (0 says not), and enough files may be open.
bool ReadAheadPays();
// The directory the process stands in, held for the workers; none where it
// cannot be held.
AheadParent HereForAhead();


// --- The core --------------------------------------------------------------

// Returns true when the process stands in a subdirectory the descent entered
// and proved just now, whose listing has not been read since: with the
// group it was asked for in, its name there, and `entered`, its stamp as
// read when it was entered. Each entry answers true once.
bool JustEntered(uint64_t& askedIn, std::string& name, DirectoryStamp& entered);
// The subdirectories of the directory the process stands in were asked for
// in `group` (0: none): a subdirectory entered from it finds its job there.
void NoteSubdirectoriesAsked(uint64_t group);

// Returns true when this run reads ahead: where it pays, once the descent
// asked for it (ListSubdirectoriesAhead) and the workers started.
bool ListingsAhead();
// Returns true when file statuses are read ahead: where it pays and the
// workers started.
bool FilesAhead();

// Asks for the subdirectories `names` of `parent`, in the order the descent
// will enter them, before all asked earlier. Returns their group, 0 when
// none was asked.
uint64_t AskSubdirectories(AheadParent parent, const std::vector<std::string>& names);

// The plain subdirectories among `entries`, in the order the descent enters
// them.
std::vector<std::string> SubdirectoriesInOrder(const std::vector<ListedEntry>& entries);

// Asks, as AskSubdirectories does, for the plain subdirectories among
// `entries`, the listing of `parent`, in the order the descent enters them.
uint64_t AskSubdirectoriesOf(AheadParent parent, const std::vector<ListedEntry>& entries);

// Returns true, with the entries read ahead of subdirectory `name` of group
// `group`, when the descent just entered it and finds it as `entered` shows
// it now: the same directory, unchanged since its stamp was taken, read whole
// and still fresh. `below` is the group its own subdirectories are asked
// in, 0: none. What the descent passed over is dropped.
bool TakeListing(uint64_t group, const std::string& name, const DirectoryStamp& entered,
                 std::vector<ListedEntry>& entries, uint64_t& below);

// Asks for the status of the files `names` of `parent`, in the order the
// sweep will delete them, a few at a time. Replaces what was asked before.
void AskFiles(AheadParent parent, std::vector<std::string> names);
// Returns true, with the attributes and size of file `name` read ahead, when
// it was asked for, was read and is still fresh; waits for one being read.
// The files asked for before it are dropped.
bool TakeFile(const std::string& name, uint32_t& attributes, int64_t& size);
// Drops the files asked for: the current directory changed.
void DropFiles();
