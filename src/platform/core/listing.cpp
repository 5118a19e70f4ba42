#include "platform/core/listing.h"

#include <algorithm>
#include <functional>
#include <map>

#include "common/match.h"
#include "common/names.h"
#include "platform/core/readahead.h"
#include "platform/core/slots.h"

namespace {

std::map<std::string, std::shared_ptr<Listing>> cache;
std::shared_ptr<Listing> current;  // the current directory's, asked for most

// The bit of an extension: a name whose bit is clear in a listing cannot be
// in it, so most lookups of derived files that are not there end here,
// without hashing the whole name.
uint64_t ExtensionBit(uint32_t extensionHash) { return uint64_t{1} << (extensionHash & 63); }

// Each chain of names equal but for case is put in order once, when the
// hash is built: its head is then the first a search would deliver, however
// many names share it.
void PutChainsInOrder(Listing& listing) {
  std::vector<int32_t> chain;
  for (int32_t& head : listing.nameSlots) {
    if (head < 0 || listing.entries[head].nextSameName < 0) continue;
    chain.clear();
    for (int32_t i = head; i >= 0; i = listing.entries[i].nextSameName) chain.push_back(i);
    std::sort(chain.begin(), chain.end(), [&listing](int32_t a, int32_t b) {
      return ListedBefore(listing.entries[a], listing.entries[b]);
    });
    head = chain.front();
    for (size_t k = 0; k < chain.size(); ++k)
      listing.entries[chain[k]].nextSameName = k + 1 < chain.size() ? chain[k + 1] : -1;
  }
}

void HashNames(Listing& listing) {
  for (ListedEntry& entry : listing.entries) entry.nameHash = HashIgnoringCase(entry.name);
  BuildSlots(
      listing, listing.nameSlots, [](const ListedEntry& e) { return e.nameHash; },
      [](const ListedEntry& a, const ListedEntry& b) {
        return a.nameHash == b.nameHash && SameNameIgnoringCase(a.name, b.name);
      },
      [](ListedEntry& e) -> int32_t& { return e.nextSameName; });
  PutChainsInOrder(listing);
}

size_t ExactHash(std::string_view name) { return std::hash<std::string_view>()(name); }

// Names byte for byte, hashed only where names equal but for case were
// looked up: finding one of many such by walking them all would let a
// directory of them stall the run. No two entries share a name.
int32_t FindExact(Listing& listing, std::string_view name) {
  std::vector<int32_t>& slots = listing.exactSlots;
  if (slots.empty()) {
    slots.assign(SlotsFor(listing.entries.size()), -1);
    for (size_t i = 0; i < listing.entries.size(); ++i) {
      size_t slot = ExactHash(listing.entries[i].name) & (slots.size() - 1);
      while (slots[slot] >= 0) slot = (slot + 1) & (slots.size() - 1);
      slots[slot] = static_cast<int32_t>(i);
    }
  }
  size_t mask = slots.size() - 1;
  for (size_t slot = ExactHash(name) & mask; slots[slot] >= 0; slot = (slot + 1) & mask)
    if (listing.entries[slots[slot]].name == name) return slots[slot];
  return -1;
}

void HashExtensions(Listing& listing) {
  BuildSlots(
      listing, listing.extensionSlots, [](const ListedEntry& e) { return e.extensionHash; },
      [](const ListedEntry& a, const ListedEntry& b) {
        return a.extensionHash == b.extensionHash &&
               SameNameIgnoringCase(ExtensionOfEntry(a), ExtensionOfEntry(b));
      },
      [](ListedEntry& e) -> int32_t& { return e.nextSameExtension; });
}

// The current directory's listing may have been read ahead, and its own
// subdirectories asked for with it; a listing is served only to the very
// directory it was read of, as TakeListing proves.
void ReadCurrentDirectory(Listing& listing) {
  uint64_t askedIn = 0, below = 0;
  std::string name;
  DirectoryStamp entered;
  bool served = JustEntered(askedIn, name, entered) &&
                TakeListing(askedIn, name, entered, listing.entries, below);
  listing.whole = served || ReadDirectory(listing);
  if (!listing.whole) return;
  listing.readAheadAsked = MomentNow();
  listing.readAheadGroup = below != 0 ? below : AskSubdirectoriesOf(HereForAhead(), listing.entries);
  NoteSubdirectoriesAsked(listing.readAheadGroup);
}

std::shared_ptr<Listing> NewListing(const std::string& dirPath) {
  auto listing = std::make_shared<Listing>();
  listing->path = dirPath;
  if (dirPath.empty() && ListingsAhead())
    ReadCurrentDirectory(*listing);
  else
    listing->whole = ReadDirectory(*listing);
  if (!listing->whole) listing->entries.clear();
  for (ListedEntry& entry : listing->entries) {
    entry.extensionAt = static_cast<uint16_t>(entry.name.size() - ExtensionOf(entry.name).size());
    entry.extensionHash = HashIgnoringCase(ExtensionOfEntry(entry));
    listing->extensions |= ExtensionBit(entry.extensionHash);
  }
  return listing;
}

// The entry named `name` without regard to case, the exact one preferred,
// else the first in order. A slot holds the first of its names not yet
// deleted, so the deleted ones are passed over once, not at every lookup.
int32_t LookUp(Listing& listing, std::string_view name) {
  // Most names looked up are of an extension no entry has: that is told
  // without hashing every name of the directory.
  if (!(listing.extensions & ExtensionBit(HashIgnoringCase(ExtensionOf(name))))) return -1;
  if (listing.nameSlots.empty()) HashNames(listing);
  size_t mask = listing.nameSlots.size() - 1;
  uint32_t hash = HashIgnoringCase(name);
  for (size_t slot = hash & mask; listing.nameSlots[slot] >= 0; slot = (slot + 1) & mask) {
    int32_t& held = listing.nameSlots[slot];
    const ListedEntry& candidate = listing.entries[held];
    if (candidate.nameHash != hash || !SameNameIgnoringCase(candidate.name, name)) continue;
    while (listing.entries[held].removed && listing.entries[held].nextSameName >= 0)
      held = listing.entries[held].nextSameName;
    const ListedEntry& first = listing.entries[held];
    if (first.removed) return -1;
    if (first.nextSameName < 0 || first.name == name) return held;
    int32_t exact = FindExact(listing, name);
    return exact >= 0 && !listing.entries[exact].removed ? exact : held;
  }
  return -1;
}

}  // namespace

uint32_t attributeEpoch = 1;
bool writesWatched = false;

NameRules NamesRules() { return {NamesAreUtf8(), SameNameIgnoringCase}; }

const std::shared_ptr<Listing>& ListingFor(const std::string& dirPath) {
  if (dirPath.empty() && current) return current;
  auto found = cache.find(dirPath);
  if (found == cache.end()) found = cache.emplace(dirPath, NewListing(dirPath)).first;
  if (dirPath.empty()) current = found->second;
  return found->second;
}

const std::shared_ptr<Listing>& CurrentListing() {
  static const std::string here;
  return current ? current : ListingFor(here);
}

Listing* CachedListing(const std::string& dirPath) {
  if (dirPath.empty()) return current.get();
  auto found = cache.find(dirPath);
  return found == cache.end() ? nullptr : found->second.get();
}

bool ListCurrentDirectory() { return CurrentListing()->whole; }

void ForgetListings() {
  cache.clear();
  current.reset();
}

int32_t FindLiteral(Listing& listing, std::string_view name) {
  int32_t found = LookUp(listing, name);
  size_t kept = name.find_last_not_of(kDroppedAtNameEnd);
  if (found >= 0 || kept == std::string_view::npos || kept + 1 == name.size()) return found;
  // The system finds the shorter name; what the program then takes of it is
  // what its matcher takes ("hello." names "hello", "a.b." nothing).
  found = LookUp(listing, name.substr(0, kept + 1));
  return found >= 0 && MatchPattern(name, listing.entries[found].name, NamesRules()) ? found : -1;
}

int32_t NextOfExtension(Listing& listing, std::string_view extension, int32_t from) {
  if (from >= 0) return listing.entries[from].nextSameExtension;
  uint32_t hash = HashIgnoringCase(extension);
  if (!(listing.extensions & ExtensionBit(hash))) return -1;
  if (listing.extensionSlots.empty()) HashExtensions(listing);
  size_t mask = listing.extensionSlots.size() - 1;
  for (size_t slot = hash & mask; listing.extensionSlots[slot] >= 0; slot = (slot + 1) & mask) {
    int32_t held = listing.extensionSlots[slot];
    const ListedEntry& entry = listing.entries[held];
    if (entry.extensionHash == hash && SameNameIgnoringCase(ExtensionOfEntry(entry), extension))
      return held;
  }
  return -1;
}

bool AnyEntryOfExtension(std::string_view extension) {
  Listing& listing = *CurrentListing();
  for (int32_t i = NextOfExtension(listing, extension, -1); i >= 0;
       i = NextOfExtension(listing, extension, i))
    if (!listing.entries[i].removed) return true;
  return false;
}

bool ReachDirectoryOf(std::string_view path, std::string& dirPath) {
  dirPath.clear();
  std::string_view rest = PathPart(path);
  while (!rest.empty()) {
    size_t end = 0;
    while (!IsSeparator(rest[end])) ++end;
    std::string_view name = rest.substr(0, end);
    // A ":" (Windows) follows a drive or comes before a stream, never a
    // subdirectory; an empty name begins an absolute path.
    if (rest[end] != JoinSeparator() || name.empty() || name[0] == '.') return false;
    Listing& listing = *ListingFor(dirPath);
    int32_t i = FindLiteral(listing, name);
    if (i < 0) return false;
    ListedEntry& entry = listing.entries[i];
    if (!CurrentAttributes(listing, entry) || entry.attributes != kAttrDirectory) return false;
    dirPath.append(entry.name).push_back(JoinSeparator());
    rest.remove_prefix(end + 1);
  }
  return true;
}

namespace {

// What was asked for half the time a listing is served ago, or before a
// wait, is asked for again.
bool AskedLongAgo(const Listing& listing) {
  const ReadMoment& asked = listing.readAheadAsked;
  return listing.path.empty() && listing.readAheadGroup != 0 &&
         (asked.epoch != attributeEpoch || MonotonicMs() - asked.ms >= kAheadFreshMs / 2);
}

void AskAgain(Listing& listing, const std::vector<std::string>& names) {
  listing.readAheadAsked = MomentNow();
  listing.readAheadGroup = AskSubdirectories(HereForAhead(), names);
  NoteSubdirectoriesAsked(listing.readAheadGroup);
}

}  // namespace

void AskAgainIfStale(Listing& listing, const std::vector<int32_t>& ahead, size_t next) {
  if (!AskedLongAgo(listing)) return;
  std::vector<std::string> names;
  for (size_t i = next; i < ahead.size() && names.size() < kAheadBound; ++i) {
    const ListedEntry& entry = listing.entries[ahead[i]];
    if (!entry.removed && ListedAsSubdirectory(entry)) names.push_back(entry.name);
  }
  AskAgain(listing, names);
}

void AskAgainBeforeDescent() {
  Listing* listing = CachedListing("");
  if (listing == nullptr || !AskedLongAgo(*listing)) return;
  AskAgain(*listing, SubdirectoriesInOrder(listing->entries));
}

bool CurrentAttributes(const Listing& listing, ListedEntry& entry) {
  if (entry.readAt == attributeEpoch) return true;
  if (!ReadEntryAttributes(listing, entry)) return false;
  entry.readAt = attributeEpoch;
  return true;
}
