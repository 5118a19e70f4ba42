// The searches of platform.h, answered from the listings.
#include <algorithm>

#include "common/match.h"
#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/search_ahead.h"
#include "platform/platform.h"

struct SearchState {
  std::shared_ptr<Listing> listing;
  std::vector<int32_t> matched;  // the entries whose names match, in order
  size_t next = 0;
  uint32_t attrSet = 0;
};

namespace {

// Whether an entry passes the filter, read no further than that needs: a
// file is settled by what the directory read showed, as its caller wants its
// name and no more (its size and read-only bit are read where it is
// deleted); a directory's bits decide whether the descent enters it, and a
// link or an entry of unknown type must be looked at.
bool Passes(const Listing& listing, ListedEntry& entry, uint32_t attrSet, TSearchRec& rec) {
  bool settled =
      entry.typeKnown && (!(entry.listedAttributes & kAttrDirectory) || (attrSet & kNamesOnly));
  if (!settled && !CurrentAttributes(listing, entry)) return false;
  uint32_t attributes = settled ? entry.listedAttributes : entry.attributes;
  if (!PassesFilter(attributes, attrSet)) return false;
  rec.name = entry.name;
  rec.size = entry.size;
  rec.attributes = attributes;
  return true;
}

bool Deliver(SearchState& state, TSearchRec& rec) {
  Listing& listing = *state.listing;
  // A descent's search for subdirectories: those still ahead are asked for
  // again once what was asked went stale.
  if (state.attrSet & kOnlyDirectories) AskAgainIfStale(listing, state.matched, state.next);
  while (state.next < state.matched.size()) {
    ListedEntry& entry = listing.entries[state.matched[state.next++]];
    if (!entry.removed && Passes(listing, entry, state.attrSet, rec)) {
      listing.delivered = state.matched[state.next - 1];
      return true;
    }
  }
  return false;
}

// The entries a search may deliver, put in order: names match, and what
// the directory read showed passes the filter. Removed marks and attributes
// are looked at as each is delivered.
void Match(Listing& listing, std::string_view pattern, uint32_t attrSet, std::vector<int32_t>& matched) {
  // Most searches by extension find none, which the index tells at once.
  std::string_view extension = ExtensionSearched(pattern);
  int32_t first = extension.empty() ? -1 : NextOfExtension(listing, extension, -1);
  if (!extension.empty() && first < 0) return;
  PreparedPattern prepared = PreparePattern(pattern, NamesRules());
  // Every entry of the extension holds what no folding of case changes in it.
  std::string_view run = extension.empty() ? RequiredRun(prepared) : std::string_view();
  auto take = [&](int32_t i) {
    const ListedEntry& entry = listing.entries[i];
    if (entry.removed || !MayPassFilter(entry, attrSet)) return;
    if (!run.empty() && !HoldsRun(entry.name, run)) return;
    if (MatchPrepared(prepared, entry.name)) matched.push_back(i);
  };
  if (!extension.empty()) {
    // Grown one entry at a time, it would be made anew at every power of two;
    // room for a directory's usual few dozen, not for every entry of a large
    // one, which a search of one extension seldom finds.
    matched.reserve(std::min<size_t>(listing.entries.size(), 64));
    for (int32_t i = first; i >= 0; i = NextOfExtension(listing, extension, i)) take(i);
  } else {
    for (size_t i = 0; i < listing.entries.size(); ++i) take(static_cast<int32_t>(i));
  }
  std::sort(matched.begin(), matched.end(), [&listing](int32_t a, int32_t b) {
    return ListedBefore(listing.entries[a], listing.entries[b]);
  });
}

}  // namespace

std::string_view ExtensionSearched(std::string_view pattern) {
  if (pattern.size() < 3 || pattern[0] != '*' || pattern[1] != '.') return {};
  for (size_t i = 2; i < pattern.size(); ++i)
    if (pattern[i] == '.' || pattern[i] == '*' || pattern[i] == '?') return {};
  return pattern.substr(1);
}

// Its longest run without wildcards, letters or bytes beyond ASCII, which
// no folding of case changes, taken from the part a name without a dot must
// match too.
std::string_view RequiredRun(const PreparedPattern& prepared) {
  std::string_view part =
      prepared.pattern.substr(0, prepared.pattern.size() - prepared.dotlessEnding);
  std::string_view longest;
  size_t start = 0;
  for (size_t i = 0; i <= part.size(); ++i) {
    unsigned char c = i < part.size() ? static_cast<unsigned char>(part[i]) : '*';
    bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    if (c != '*' && c != '?' && c < 0x80 && !letter) continue;
    if (i - start > longest.size()) longest = part.substr(start, i - start);
    start = i + 1;
  }
  return longest;
}

bool SearchFirst(std::string_view pattern, uint32_t attrSet, TSearchRec& rec) {
  rec.handle = nullptr;
  // One look at the pattern: whether it has a directory part and whether
  // its name holds a wildcard. A NUL would end the name the system is given
  // early.
  size_t nameStart = 0;
  bool wildcard = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '*' || c == '?') {
      wildcard = true;
    } else if (c == '\0') {
      return false;
    } else if (IsSeparator(c)) {
      nameStart = i + 1;
      wildcard = false;
    }
  }
  std::string_view namePattern = pattern.substr(nameStart);
  if (namePattern.empty()) return false;
  std::string dirPath;
  if (nameStart > 0 && !ReachDirectoryOf(pattern, dirPath)) return false;
  const std::shared_ptr<Listing>& listing = ListingFor(dirPath);
  if (!wildcard) {
    // A literal name finds at most one entry, so no search stays open.
    int32_t i = FindLiteral(*listing, namePattern);
    if (i < 0) return false;
    return Passes(*listing, listing->entries[i], attrSet, rec);
  }
  std::vector<int32_t> matched;
  if (!TakeMatchedAhead(*listing, namePattern, attrSet, matched))
    Match(*listing, namePattern, attrSet, matched);
  if (matched.empty()) return false;
  rec.handle = new SearchState{listing, std::move(matched), 0, attrSet};
  return Deliver(*rec.handle, rec);
}

bool SearchNext(TSearchRec& rec) {
  if (rec.handle == nullptr) return false;
  return Deliver(*rec.handle, rec);
}

void SearchClose(TSearchRec& rec) {
  delete rec.handle;
  rec.handle = nullptr;
}
