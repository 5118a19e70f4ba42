// Directory listings of the POSIX layer: one read of a directory serves every
// search in it, wildcard searches walk it and literal names are looked up in
// a case-folded hash of it. Deletions by the program mark entries removed, so
// a later search no longer finds them. Internal to platform-posix.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct ListedEntry {
  std::string name;
  int64_t size = 0;
  uint32_t attributes = 0;
  unsigned char type = 0;  // DT_* from the directory read
  bool removed = false;
  uint32_t readAt = 0;        // attributeEpoch when attributes and size were read
  uint32_t foldedHash = 0;    // hash of the name with a-z as A-Z
  uint64_t sortKey = 0;       // its first eight bytes so folded, for sorting
  int32_t nextSameFold = -1;  // next entry equal without regard to case
};

struct Listing {
  std::string path;  // as the program names it, "" for the current directory
  dev_t device = 0;
  std::vector<ListedEntry> entries;  // in name order, case folded
  std::vector<int32_t> slots;        // open-addressing hash of folded names
  bool hashed = false;
  uint64_t extensions = 0;  // one bit for each folded extension present
};

// The listing of `dirPath` ("" or a path ending in "/"), read once and then
// served from the cache until the current directory changes.
std::shared_ptr<Listing> ListingFor(const std::string& dirPath);
// The device of the current directory, from its listing when one is read.
dev_t CurrentDevice();
// Forgets every cached listing (the current directory changed).
void ForgetListings();

// The entry named `name`: the exact entry if there is one, otherwise the first
// equal to it without regard to ASCII case; -1 when there is none.
int32_t FindLiteral(Listing& listing, std::string_view name);

// Attributes read before the program last waited for a key are read again:
// while a question waited, the file may have changed.
extern uint32_t attributeEpoch;

// Fills attributes and size of an entry (lstat, or stat of a link's target);
// false when the entry is gone.
bool ReadEntryAttributes(Listing& listing, ListedEntry& entry);

// False when the directory read alone shows that the entry cannot pass.
bool MayPassFilter(const ListedEntry& entry, uint32_t attrSet);
// True when the directory read alone settles the filter (a plain file or
// directory): only a link or an unknown type needs a stat for it.
bool TypeSettlesFilter(const ListedEntry& entry);

// A path in which each component that does not exist as written is replaced
// by an entry equal to it without regard to ASCII case, where there is one.
std::string ResolveLiteralPath(std::string_view path);
