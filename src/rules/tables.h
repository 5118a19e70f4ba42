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

struct MaskList {
  int count = 0;
  SlotText<kMaskLength> masks[kMaxMasks];
};

struct RuleTable {
  int count = 0;
  SlotText<kRuleLength> rules[kMaxRules];
};

extern MaskList maskList;
extern RuleTable ruleTable;

// The four built-in rules into slots 1 to 4; count becomes 4.
void InstallBuiltInRules(RuleTable& table);
