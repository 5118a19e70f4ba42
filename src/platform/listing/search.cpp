// The searches of platform.h, answered from the listings.
#include "common/match.h"
#include "common/names.h"
#include "platform/listing/listing.h"
#include "platform/platform.h"

struct SearchState {
  std::shared_ptr<Listing> listing;
  std::string pattern;
  PreparedPattern prepared;  // refers to `pattern`
  std::string_view extension;  // for "*.EXT": only entries of that extension
  uint32_t attrSet = 0;
  int32_t at = -1;  // the entry delivered last
};

namespace {

void Found(const ListedEntry& entry, TSearchRec& rec) {
  rec.name = entry.name;
  rec.size = entry.size;
  rec.attributes = entry.attributes;
}

int32_t Following(SearchState& state) {
  if (!state.extension.empty()) return NextOfExtension(*state.listing, state.extension, state.at);
  int32_t next = state.at + 1;
  return next < static_cast<int32_t>(state.listing->entries.size()) ? next : -1;
}

bool Deliver(SearchState& state, TSearchRec& rec) {
  Listing& listing = *state.listing;
  while ((state.at = Following(state)) >= 0) {
    ListedEntry& entry = listing.entries[state.at];
    if (entry.removed || !MayPassFilter(entry, state.attrSet)) continue;
    if (!MatchPrepared(state.prepared, entry.name)) continue;
    if ((state.attrSet & kNamesOnly) && entry.typeKnown) {
      // The read alone settles the filter, and the caller wants names only.
      rec.name = entry.name;
      rec.size = 0;
      rec.attributes = 0;
      return true;
    }
    if (!CurrentAttributes(listing, entry)) continue;
    if (PassesFilter(entry.attributes, state.attrSet)) {
      Found(entry, rec);
      return true;
    }
  }
  return false;
}

// "*.EXT" with one dot, which finds exactly the names of that extension.
std::string_view ExtensionSearched(const PreparedPattern& prepared) {
  std::string_view tail = prepared.pattern.substr(1);
  if (!prepared.starThenLiteral || tail.size() < 2 || tail[0] != '.' ||
      tail.find('.', 1) != std::string_view::npos)
    return {};
  return tail;
}

}  // namespace

bool SearchFirst(std::string_view pattern, uint32_t attrSet, TSearchRec& rec) {
  rec.handle = nullptr;
  std::string_view namePattern = NamePart(pattern);
  // A NUL would end the name the system is given early.
  if (namePattern.empty() || pattern.find('\0') != std::string_view::npos) return false;
  const std::shared_ptr<Listing>& listing = ListingFor(DirectoryOf(pattern));
  if (IsLiteralPattern(namePattern)) {
    // A literal name finds at most one entry, so no search stays open.
    int32_t i = FindLiteral(*listing, namePattern);
    if (i < 0) return false;
    ListedEntry& entry = listing->entries[i];
    if (!CurrentAttributes(*listing, entry) || !PassesFilter(entry.attributes, attrSet)) return false;
    Found(entry, rec);
    return true;
  }
  // Most searches for an extension find none in a directory: they end here,
  // before a search is set up.
  std::string_view extension = ExtensionSearched(PreparePattern(namePattern));
  if (!extension.empty() && NextOfExtension(*listing, extension, -1) < 0) return false;
  auto state = new SearchState;
  state->listing = listing;
  state->pattern.assign(namePattern);
  state->prepared = PreparePattern(state->pattern);
  state->extension = ExtensionSearched(state->prepared);
  state->attrSet = attrSet;
  rec.handle = state;
  return Deliver(*state, rec);
}

bool SearchNext(TSearchRec& rec) {
  if (rec.handle == nullptr) return false;
  return Deliver(*rec.handle, rec);
}

void SearchClose(TSearchRec& rec) {
  delete rec.handle;
  rec.handle = nullptr;
}
