// The mask list and the rule table: fixed-capacity tables filled once at
// start and read-only afterwards. A text stored into a slot is cut to the
// slot's capacity. A rule line is space-separated words, each followed by
// one space: the source extension first, then the derived extensions.
#pragma once

#include <cstddef>
#include <string_view>

template <size_t Capacity>
struct SlotText {
  unsigned char length = 0;
  char chars[Capacity] = {};
};

template <size_t Capacity>
void StoreSlot(SlotText<Capacity>& slot, std::string_view text) {
  slot.length = static_cast<unsigned char>(text.size() < Capacity ? text.size() : Capacity);
  for (size_t i = 0; i < slot.length; ++i) slot.chars[i] = text[i];
}

template <size_t Capacity>
std::string_view SlotView(const SlotText<Capacity>& slot) {
  return {slot.chars, slot.length};
}

constexpr int kMaxMasks = 30;
constexpr size_t kMaskLength = 12;
constexpr int kMaxRules = 30;
constexpr size_t kRuleLength = 80;
// A slot holds a line as read, cut to the length above, and then brought
// into the names' code page: a character of an ANSI code page takes up to 3
// bytes in UTF-8.
constexpr size_t kMaskBytes = 3 * kMaskLength;
constexpr size_t kRuleBytes = 3 * kRuleLength;

struct MaskList {
  int count = 0;
  SlotText<kMaskBytes> masks[kMaxMasks];
};

struct RuleTable {
  int count = 0;
  SlotText<kRuleBytes> rules[kMaxRules];
};

extern MaskList maskList;
extern RuleTable ruleTable;

// The four built-in rules into slots 1 to 4; count becomes 4.
void InstallBuiltInRules(RuleTable& table);
