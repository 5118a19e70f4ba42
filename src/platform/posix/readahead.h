// Listings read ahead for a descent: once a directory has been listed, by
// the descent or ahead of it, its plain subdirectories are listed on worker
// threads, in the order the descent will enter them, while the sweep works. At most 16 reads are in
// flight and 64 listings asked for or held, however wide or deep the tree.
// Internal to src/platform.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/listing.h"
#include "platform/core/listing.h"

// Starts reading ahead the plain subdirectories among `entries`, the listing
// of the directory open as `directoryFd`, which this takes. Does nothing
// until ListSubdirectoriesAhead was called. Returns the group the reads
// belong to, 0 when none was started.
uint64_t ReadAheadSubdirectories(int directoryFd, const std::vector<ListedEntry>& entries);
// True once ListSubdirectoriesAhead was called where reading ahead pays.
bool ListingsReadAhead();

// The status and mount of subdirectory `name` of a group, as they were when
// it was opened for reading ahead (never through a link), if that has
// happened and no key was waited for since it was asked.
bool ReadAheadStatus(uint64_t group, const std::string& name, struct stat& status, MountTag& mount);

// The entries read ahead for the directory of this device and inode, in name
// order, if the program has not waited for a key since the requests that led
// to them began: a directory swapped or changed meanwhile is never served
// what another one held. `subdirectories` is the group its own
// subdirectories are already being read ahead in, 0: none.
bool TakeReadAhead(uint64_t device, uint64_t inode, std::vector<ListedEntry>& entries,
                   uint64_t& subdirectories);

// Reads ahead the status of the files `names` of the directory open as
// `directoryFd`, which this takes, in the order the sweep will delete them,
// at most 64 at a time. Replaces the files asked for before.
void ReadFilesAhead(int directoryFd, std::vector<std::string> names);

// The status of file `name` read ahead, if it was asked for, is a plain file
// and no key was waited for since it was asked; waits for one being read.
// The files asked for before it are dropped.
bool TakeFileAhead(const std::string& name, struct stat& status);

// Drops the files asked for: the current directory has changed.
void DropFilesAhead();
