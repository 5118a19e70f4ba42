// The searches a sweep says will come, found in one walk of the current
// directory's listing: a mask file of twenty masks would otherwise walk
// every listing twenty times. Each entry is tried only against the patterns
// its first and last bytes leave possible.
#include <algorithm>
#include <array>
#include <string>

#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/search_ahead.h"
#include "platform/platform.h"

namespace {

// A byte no pattern asks a name to begin or end with.
constexpr int kAnyByte = -1;

struct WalkedPattern {
  size_t text = 0;  // in Walk::texts
  PreparedPattern prepared;
  std::string_view run;
  int first = kAnyByte;  // the ASCII byte, folded, a name must begin with
};

// The patterns last said to come, looked at once for every listing walked
// while they stay the same.
struct Walk {
  std::vector<std::string> texts;
  uint32_t attrSet = 0;
  NameRules rules;
  std::vector<WalkedPattern> walked;
  std::vector<uint16_t> all;              // every walked pattern
  std::vector<uint16_t> anyEnd;           // those that may end in any byte
  std::array<std::vector<uint16_t>, 128> byEnd;  // and by the folded ASCII byte they end in
};

Walk walk;

// The ASCII byte, folded, a pattern's names all have where `c` stands in
// it, or kAnyByte.
int RequiredByte(char c) {
  if (c == '*' || c == '?' || static_cast<unsigned char>(c) >= 0x80) return kAnyByte;
  return static_cast<unsigned char>(AsciiUpperChar(c));
}

bool SameWalk(const std::vector<std::string_view>& patterns, uint32_t attrSet, const NameRules& rules) {
  if (walk.attrSet != attrSet || walk.rules.utf8 != rules.utf8 ||
      walk.rules.sameIgnoringCase != rules.sameIgnoringCase || walk.texts.size() != patterns.size())
    return false;
  for (size_t i = 0; i < patterns.size(); ++i)
    if (walk.texts[i] != patterns[i]) return false;
  return true;
}

// Only patterns of the current directory with a wildcard are walked; an
// extension search is served by the listing's index of extensions, and a
// literal name by its hash.
void PrepareWalk(const std::vector<std::string_view>& patterns, uint32_t attrSet, const NameRules& rules) {
  walk = Walk();
  walk.attrSet = attrSet;
  walk.rules = rules;
  walk.texts.assign(patterns.begin(), patterns.end());
  for (size_t i = 0; i < walk.texts.size(); ++i) {
    std::string_view text = walk.texts[i];
    if (text.empty() || IsLiteralPattern(text) || NamePart(text) != text ||
        text.find('\0') != std::string_view::npos)
      continue;
    if (!ExtensionSearched(text).empty()) continue;
    WalkedPattern pattern;
    pattern.text = i;
    pattern.prepared = PreparePattern(text, rules);
    pattern.run = RequiredRun(pattern.prepared);
    pattern.first = RequiredByte(text.front());
    // A name without a dot may match a pattern ending in "." or ".*" less
    // that ending, so such a pattern asks for no last byte.
    int last = pattern.prepared.dotlessEnding == 0 ? RequiredByte(text.back()) : kAnyByte;
    auto index = static_cast<uint16_t>(walk.walked.size());
    walk.walked.push_back(pattern);
    walk.all.push_back(index);
    (last == kAnyByte ? walk.anyEnd : walk.byEnd[last]).push_back(index);
  }
}

// A byte beyond ASCII may be part of a character that folds to any letter:
// a name that ends in one is tried against every pattern.
void TryEntry(const ListedEntry& entry, int32_t i, std::vector<std::vector<int32_t>>& found) {
  const std::string& name = entry.name;
  auto first = static_cast<unsigned char>(name.front());
  auto last = static_cast<unsigned char>(name.back());
  auto tryAll = [&](const std::vector<uint16_t>& indices) {
    for (uint16_t k : indices) {
      const WalkedPattern& pattern = walk.walked[k];
      if (pattern.first != kAnyByte && first < 0x80 && AsciiUpperChar(first) != pattern.first) continue;
      if (!pattern.run.empty() && !HoldsRun(name, pattern.run)) continue;
      if (MatchPrepared(pattern.prepared, name)) found[k].push_back(i);
    }
  };
  if (last >= 0x80) {
    tryAll(walk.all);
    return;
  }
  tryAll(walk.anyEnd);
  tryAll(walk.byEnd[static_cast<unsigned char>(AsciiUpperChar(last))]);
}

}  // namespace

void SearchesAhead(const std::vector<std::string_view>& patterns, uint32_t attrSet) {
  NameRules rules = NamesRules();
  if (!SameWalk(patterns, attrSet, rules)) PrepareWalk(patterns, attrSet, rules);
  Listing& listing = *CurrentListing();
  listing.matchedAhead.clear();
  listing.nextAhead = 0;
  if (walk.walked.empty()) return;
  std::vector<std::vector<int32_t>> found(walk.walked.size());
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    if (!entry.removed && MayPassFilter(entry, attrSet)) TryEntry(entry, static_cast<int32_t>(i), found);
  }
  // Every pattern said to come holds its place, so that the searches, made
  // in that order, each find theirs at once.
  listing.matchedAhead.resize(walk.texts.size());
  for (size_t i = 0; i < walk.texts.size(); ++i) {
    listing.matchedAhead[i].pattern = walk.texts[i];
    listing.matchedAhead[i].attrSet = attrSet;
  }
  for (size_t k = 0; k < walk.walked.size(); ++k) {
    MatchedAhead& ahead = listing.matchedAhead[walk.walked[k].text];
    ahead.walked = true;
    ahead.matched = std::move(found[k]);
    std::sort(ahead.matched.begin(), ahead.matched.end(), [&listing](int32_t a, int32_t b) {
      return ListedBefore(listing.entries[a], listing.entries[b]);
    });
  }
}

bool TakeMatchedAhead(Listing& listing, std::string_view pattern, uint32_t attrSet,
                      std::vector<int32_t>& matched) {
  std::vector<MatchedAhead>& list = listing.matchedAhead;
  for (size_t i = listing.nextAhead; i < list.size(); ++i) {
    MatchedAhead& ahead = list[i];
    if (ahead.attrSet != attrSet || ahead.pattern != pattern) continue;
    listing.nextAhead = i + 1;
    if (!ahead.walked) return false;
    matched = std::move(ahead.matched);
    return true;
  }
  return false;
}
