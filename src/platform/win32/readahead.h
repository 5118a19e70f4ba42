// Listings read ahead for a descent on Windows: once a directory has been
// listed, by the descent or ahead of it, its plain subdirectories are listed
// on worker threads, in the order the descent will enter them, while the
// sweep works. At most 16 reads are in flight and 64 listings asked for or
// held, however wide or deep the tree. Internal to platform-win32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/directory.h"
#include "platform/core/listing.h"

// The read alone shows a plain subdirectory, one the descent enters: what is
// read ahead.
inline bool ListedAsSubdirectory(const ListedEntry& entry) {
  return entry.listedAttributes == kAttrDirectory && entry.name[0] != '.';
}

// Appends the entries of the directory `pattern` ("...\*") searches for, in
// the order the system keeps, as ReadDirectory notes them, their attributes
// read at `epoch`. Safe on any thread.
void ReadEntries(const std::string& pattern, uint32_t epoch, std::vector<ListedEntry>& entries);

// Starts reading ahead the plain subdirectories among `entries`, the listing
// of the directory at the full path `directory`. Does nothing until
// ListSubdirectoriesAhead was called. Returns the group the reads belong to,
// 0 when none was started.
uint64_t ReadAheadSubdirectories(const std::string& directory, const std::vector<ListedEntry>& entries);

// The entries read ahead of the directory `identity` names, as its own read
// would give them, if the program has not waited for a key since the
// requests that led to them began: a directory swapped or changed meanwhile
// is never served what another one held. `subdirectories` is the group its
// own subdirectories are already being read ahead in, 0: none.
bool TakeReadAhead(const DirectoryIdentity& identity, std::vector<ListedEntry>& entries,
                   uint64_t& subdirectories);
