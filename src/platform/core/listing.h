// Directory listings, the same on both builds: one read of a directory serves
// every search in it. Wildcard searches walk it (one for "*.EXT" only the
// entries of that extension), literal names are found through a hash of
// names compared as the file system compares them, and the program's own
// deletions mark entries removed, so that a later search no longer finds
// them. Only the reader differs by platform (listing-posix, listing-win32).
// Internal to src/platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct ListedEntry {
  std::string name;
  int64_t size = 0;
  uint32_t attributes = 0;        // all bits, when readAt is attributeEpoch
  uint32_t listedAttributes = 0;  // the bits the directory read showed
  bool typeKnown = true;          // false: the read left the filter's bits open
  bool removed = false;
  uint32_t readAt = 0;            // attributeEpoch when attributes and size were read
  uint64_t orderKey = 0;          // for ListedBefore, set by the reader
  uint32_t nameHash = 0;          // HashIgnoringCase of the name, once hashed
  uint32_t extensionHash = 0;     // HashIgnoringCase of the extension
  int32_t nextSameName = -1;      // next entry equal without regard to case, in order
  int32_t nextSameExtension = -1; // next entry of that extension
};

struct Listing {
  std::string path;  // as the program names it: "" for the current directory
  std::vector<ListedEntry> entries;   // in the order the system read them
  std::vector<int32_t> nameSlots;     // open-addressing hash, built when first needed
  std::vector<int32_t> exactSlots;    // the same by exact name, built likewise
  std::vector<int32_t> extensionSlots;  // first entry of each extension, likewise
  uint64_t extensions = 0;            // one bit for each extension present
  // Its subdirectories listed ahead, 0: none; asked for at that epoch, and
  // asked for again when the sweep next looks at one after a key was read.
  mutable uint64_t readAheadGroup = 0;
  mutable uint32_t readAheadEpoch = 0;
};

// --- The reader: one per platform ----------------------------------------

// Reads the directory `listing.path` names into its entries, "." and ".."
// left out, each with name, listedAttributes, typeKnown, orderKey and, where
// the read gives them, attributes, size and readAt. A directory that cannot
// be read leaves no entries.
void ReadDirectory(Listing& listing);
// The order in which searches deliver entries: the system's on Windows, name
// order on POSIX (the first eight bytes folded in orderKey, then the names).
bool ListedBefore(const ListedEntry& a, const ListedEntry& b);
// Reads attributes and size of an entry again; false when it is gone.
bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry);
// What the system drops from the end of a name it is given literally.
extern const std::string_view kDroppedAtNameEnd;

// --- The shared engine -----------------------------------------------------

// What was asked for before a key was read is never served: the
// subdirectories (as `subdirectory` tells them) from `entry` on, once for
// each key, to be asked for again, so that a single question does not leave
// the rest of the directory without read-ahead. False when they are not due.
bool SubdirectoriesToAskAgain(const Listing& listing, const ListedEntry& entry,
                              bool (*subdirectory)(const ListedEntry&), std::vector<ListedEntry>& rest);

// The listing of `dirPath`, read once and then served from the cache until
// ForgetListings (the current directory changed).
const std::shared_ptr<Listing>& ListingFor(const std::string& dirPath);
// The listing of `dirPath` when it is cached, else nullptr; never reads.
Listing* CachedListing(const std::string& dirPath);
void ForgetListings();

// The entry named `name`: the exact entry if there is one, otherwise the first
// equal to it without regard to case; a name that ends in what the system
// drops finds the entry without that ending when it has none of its own. -1
// when there is none. Removed entries are not found.
int32_t FindLiteral(Listing& listing, std::string_view name);

// The first entry, from `from` on, that an extension search may deliver:
// one whose extension equals `extension` without regard to case. -1 at the
// end. `from` < 0 starts the walk.
int32_t NextOfExtension(Listing& listing, std::string_view extension, int32_t from);

// The listing path of the directory part of a name or pattern ("" when it
// has none), each component spelt as its directory lists it. False, and no
// listing, unless every component is a plain subdirectory of the one before
// it, as a descent would enter it: not absolute, no drive, no ".", "..",
// hidden name, link, mount point or directory with other attribute bits.
bool ReachDirectoryOf(std::string_view path, std::string& dirPath);

// Attributes read before the program last waited for a key are read again:
// while a question waited, the file may have changed.
extern uint32_t attributeEpoch;
// Makes attributes and size current; false when the entry is gone.
bool CurrentAttributes(const Listing& listing, ListedEntry& entry);

// False when the directory read alone shows that the entry cannot pass.
bool MayPassFilter(const ListedEntry& entry, uint32_t attrSet);
