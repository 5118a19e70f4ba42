// The open-addressing tables a listing finds its entries by. Internal to
// src/platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/core/listing.h"

// From the last "." of a name to its end; empty without a dot.
inline std::string_view ExtensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// Room for `count` entries with half the slots free.
inline size_t SlotsFor(size_t count) {
  size_t capacity = 16;
  while (capacity < count * 2) capacity *= 2;
  return capacity;
}

// Open addressing over entries: `same` says whether an entry belongs to the
// slot an entry already holds, `link` chains the entries of one slot. Filled
// backwards, so each chain runs in the order the entries are held.
template <typename Key, typename Same, typename Link>
void BuildSlots(Listing& listing, std::vector<int32_t>& slots, Key key, Same same, Link link) {
  slots.assign(SlotsFor(listing.entries.size()), -1);
  size_t mask = slots.size() - 1;
  for (size_t i = listing.entries.size(); i-- > 0;) {
    ListedEntry& entry = listing.entries[i];
    for (size_t slot = key(entry) & mask;; slot = (slot + 1) & mask) {
      int32_t held = slots[slot];
      if (held >= 0 && !same(listing.entries[held], entry)) continue;
      link(entry) = held;
      slots[slot] = static_cast<int32_t>(i);
      break;
    }
  }
}
