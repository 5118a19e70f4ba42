#include "common/invisible.h"

#include <algorithm>
#include <iterator>

namespace {

struct Range {
  char32_t first, last;
};

// Unicode 14: Cf, Zl and Zp, and the combining grapheme joiner U+034F,
// which is a mark in its category but joins nothing a reader can see.
constexpr Range kInvisible[] = {
    {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},
    {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},
    {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x13438}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

}  // namespace

bool IsInvisibleCharacter(char32_t code) {
  const Range* after = std::upper_bound(std::begin(kInvisible), std::end(kInvisible), code,
                                        [](char32_t c, const Range& r) { return c < r.first; });
  return after != std::begin(kInvisible) && code <= (after - 1)->last;
}
