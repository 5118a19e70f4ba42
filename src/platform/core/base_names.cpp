// The entries of one base name: the lookups of a rule's derived files, most
// of which find nothing, are told apart from those that may find a file by
// one look at the entries that share the source's base name.
#include "common/match.h"
#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/slots.h"
#include "platform/platform.h"

namespace {

// Each entry learns the first of its base name too: a source a search
// delivered finds the entries beside it without hashing its base again.
void HashBases(Listing& listing) {
  for (ListedEntry& entry : listing.entries) entry.baseHash = HashIgnoringCase(BaseOfEntry(entry));
  BuildSlots(
      listing, listing.baseSlots, [](const ListedEntry& e) { return e.baseHash; },
      [](const ListedEntry& a, const ListedEntry& b) {
        return a.baseHash == b.baseHash && SameNameIgnoringCase(BaseOfEntry(a), BaseOfEntry(b));
      },
      [](ListedEntry& e) -> int32_t& { return e.nextSameBase; });
  // Each chain runs in the order of the entries: its first entry is met first.
  for (ListedEntry& first : listing.entries) {
    if (first.firstSameBase >= 0) continue;
    auto head = static_cast<int32_t>(&first - listing.entries.data());
    for (int32_t i = head; i >= 0; i = listing.entries[i].nextSameBase)
      listing.entries[i].firstSameBase = head;
  }
}

// The first entry of the base name `base`, -1 when there is none.
int32_t FirstOfBase(Listing& listing, std::string_view base) {
  if (listing.baseSlots.empty()) HashBases(listing);
  // The base of the source just delivered, as the rule pass asks it.
  if (listing.delivered >= 0) {
    const ListedEntry& source = listing.entries[listing.delivered];
    if (base.data() == source.name.data() && base.size() == source.extensionAt)
      return source.firstSameBase;
  }
  size_t mask = listing.baseSlots.size() - 1;
  uint32_t hash = HashIgnoringCase(base);
  for (size_t slot = hash & mask; listing.baseSlots[slot] >= 0; slot = (slot + 1) & mask) {
    int32_t held = listing.baseSlots[slot];
    const ListedEntry& entry = listing.entries[held];
    if (entry.baseHash == hash && SameNameIgnoringCase(BaseOfEntry(entry), base)) return held;
  }
  return -1;
}

// A byte that would make a name a pattern or a path, or end it early.
constexpr bool Special(char c) { return c == '*' || c == '?' || c == '\0' || IsSeparator(c); }

// What each byte is to a base name or a word, looked up once per byte.
constexpr uint8_t kSpecial = 1, kDot = 2;
struct ByteKinds {
  uint8_t kind[256] = {};
  constexpr ByteKinds() {
    for (int c = 0; c < 256; ++c)
      kind[c] = static_cast<uint8_t>((Special(static_cast<char>(c)) ? kSpecial : 0) | (c == '.' ? kDot : 0));
  }
};
constexpr ByteKinds kByteKinds;

// The kinds of all bytes of `text`, or-ed.
uint8_t KindsIn(std::string_view text) {
  uint8_t kinds = 0;
  for (char c : text) kinds |= kByteKinds.kind[static_cast<unsigned char>(c)];
  return kinds;
}

bool DroppedAtEnd(std::string_view name) {
  if (name.empty()) return false;
  for (char c : kDroppedAtNameEnd)
    if (name.back() == c) return true;
  return false;
}

// A word whose only dot comes first and that the system takes as written:
// a name of the base and that word has exactly that word for extension.
bool PlainExtension(std::string_view word) {
  if (word.size() < 2 || word[0] != '.' || DroppedAtEnd(word)) return false;
  return KindsIn(word.substr(1)) == 0;
}

// What the entries beside a base tell of a word: the extension it is, or
// the bare dot, or nothing.
constexpr uint8_t kAnyWord = 0, kExtensionWord = 1, kDotWord = 2;

}  // namespace

DerivedWord PrepareDerivedWord(std::string_view word) {
  if (PlainExtension(word)) return {word, kExtensionWord, HashIgnoringCase(word)};
  return {word, word == "." ? kDotWord : kAnyWord, 0};
}

EntriesOfBase::EntriesOfBase(std::string_view base) {
  uint8_t kinds = KindsIn(base);
  if (kinds & kSpecial) return;
  bool dot = kinds & kDot;
  Listing& listing = *CurrentListing();
  listing_ = &listing;
  first_ = FirstOfBase(listing, base);
  dotless_ = !base.empty() && !dot && !DroppedAtEnd(base);
}

bool EntriesOfBase::MayName(const DerivedWord& word) const {
  if (!listing_) return true;
  const std::vector<ListedEntry>& entries = listing_->entries;
  if (word.kind == kExtensionWord) {
    for (int32_t i = first_; i >= 0; i = entries[i].nextSameBase) {
      const ListedEntry& entry = entries[i];
      if (!entry.removed && entry.extensionHash == word.hash &&
          SameNameIgnoringCase(ExtensionOfEntry(entry), word.text))
        return true;
    }
    return false;
  }
  // "base." names "base." or, where there is none, "base" itself.
  if (word.kind == kDotWord && dotless_) {
    for (int32_t i = first_; i >= 0; i = entries[i].nextSameBase) {
      std::string_view extension = ExtensionOfEntry(entries[i]);
      if (!entries[i].removed && (extension.empty() || extension == ".")) return true;
    }
    return false;
  }
  return true;
}
