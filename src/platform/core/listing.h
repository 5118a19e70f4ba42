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

#include "platform/core/freshness.h"
#include "platform/platform.h"

struct ListedEntry {
  std::string name;
  int64_t size = 0;
  uint32_t attributes = 0;        // all bits, when readAt is attributeEpoch
  uint32_t listedAttributes = 0;  // the bits the directory read showed
  bool typeKnown = true;          // false: the read left the filter's bits open
  bool removed = false;
  bool readEarlier = false;       // the status was read ahead: judged again as it goes
  uint32_t readAt = 0;            // attributeEpoch when attributes and size were read
  uint64_t orderKey = 0;          // for ListedBefore, set by the reader
  uint32_t nameHash = 0;          // HashIgnoringCase of the name, once hashed
  uint32_t extensionHash = 0;     // HashIgnoringCase of the extension
  int32_t nextSameName = -1;      // next entry equal without regard to case, in order
  int32_t nextSameExtension = -1; // next entry of that extension
  uint32_t baseHash = 0;          // HashIgnoringCase of the name less its extension, once hashed
  int32_t nextSameBase = -1;      // next entry of that base name
  int32_t firstSameBase = -1;     // the first entry of that base name, once hashed
  uint16_t extensionAt = 0;       // where the extension begins; the name's size without a dot
};

// The extension (from the last ".") and the base name of a listed entry, as
// NewListing found them: the lookups beside a source look at them often.
inline std::string_view ExtensionOfEntry(const ListedEntry& entry) {
  return std::string_view(entry.name).substr(entry.extensionAt);
}
inline std::string_view BaseOfEntry(const ListedEntry& entry) {
  return std::string_view(entry.name).substr(0, entry.extensionAt);
}

// What a walk made ahead found for one search still to come (SearchesAhead):
// the entries whose names match and whose directory read passes the filter,
// in order, as the search itself would find them when it was made.
// A pattern not walked (one served by an index) holds its place only.
struct MatchedAhead {
  std::string pattern;
  uint32_t attrSet = 0;
  bool walked = false;
  std::vector<int32_t> matched;
};

struct Listing {
  std::string path;  // as the program names it: "" for the current directory
  // Read whole. A listing that is not finds nothing: what is missing from
  // it could change what a search finds (a name equal but for case).
  bool whole = false;
  std::vector<ListedEntry> entries;   // in the order the system read them
  std::vector<int32_t> nameSlots;     // open-addressing hash, built when first needed
  std::vector<int32_t> exactSlots;    // the same by exact name, built likewise
  std::vector<int32_t> extensionSlots;  // first entry of each extension, likewise
  std::vector<int32_t> baseSlots;       // first entry of each base name, likewise
  uint64_t extensions = 0;            // one bit for each extension present
  int32_t delivered = -1;             // the entry a search of it delivered last
  std::vector<MatchedAhead> matchedAhead;  // the searches said to come, in order
  size_t nextAhead = 0;                    // the first not yet searched for
  // Its subdirectories listed ahead, 0: none; asked for at that epoch, and
  // asked for again when the descent next looks for one after a wait.
  uint64_t readAheadGroup = 0;
  ReadMoment readAheadAsked;
};

// --- The reader: one per platform ----------------------------------------

// Reads the directory `listing.path` names into its entries, "." and ".."
// left out, each with name, listedAttributes, typeKnown, orderKey and, where
// the read gives them, attributes, size and readAt. Returns false when it
// could not be read whole: it could not be opened, or a read failed
// part-way (a share's error, no descriptor left).
bool ReadDirectory(Listing& listing);
// The order in which searches deliver entries: the system's on Windows, name
// order on POSIX (the first eight bytes folded in orderKey, then the names).
bool ListedBefore(const ListedEntry& a, const ListedEntry& b);
// Reads attributes and size of an entry again; false when it is gone.
bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry);
// What the system drops from the end of a name it is given literally.
extern const std::string_view kDroppedAtNameEnd;

// --- The shared engine -----------------------------------------------------

// Asks again for the subdirectories still ahead of a search for them, a
// bound's worth, once the read-ahead's earlier requests went stale: after a
// wait, or when they are about as old as the read-ahead serves. `ahead`: the
// entries the search will still deliver, in order.
void AskAgainIfStale(Listing& listing, const std::vector<int32_t>& ahead, size_t next);
// The same for the current directory's subdirectories, all in the order the
// descent will enter them, while its sweep makes its last deletions.
void AskAgainBeforeDescent();

// The listing of `dirPath`, read once and then served from the cache until
// ForgetListings (the current directory changed).
const std::shared_ptr<Listing>& ListingFor(const std::string& dirPath);
// ListingFor the current directory, with no path text to make or compare.
const std::shared_ptr<Listing>& CurrentListing();
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

// Attributes read before the program last waited are read again: while a
// question or a blocked write waited, the file may have changed.
// Makes attributes and size current; false when the entry is gone.
bool CurrentAttributes(const Listing& listing, ListedEntry& entry);

// False when the directory read alone shows that the entry cannot pass.
inline bool MayPassFilter(const ListedEntry& entry, uint32_t attrSet) {
  return PassesFilter(entry.listedAttributes,
                      entry.typeKnown ? attrSet : attrSet & ~kOnlyDirectories);
}

// The one test of a directory's attributes a descent may enter, on both
// builds and for the read-ahead alike, made on what the directory is when it
// is entered: they are exactly the directory bit. A link, a mount point, a
// read-only, hidden or system directory, and one with any other bit, is not.
// The descent asks it through Way::Admits, which also knows where it stands.
inline bool MayEnter(uint32_t attributes) { return attributes == kAttrDirectory; }

// The read alone shows a plain subdirectory, one a descent may enter: what
// is read ahead.
inline bool ListedAsSubdirectory(const ListedEntry& entry) {
  return entry.typeKnown && MayEnter(entry.listedAttributes) && entry.name[0] != '.';
}
