#include "common/match.h"

#include <cstdint>
#include <cstring>

#include "common/names.h"

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return EqualFoldedByWords(a, b, AsciiUpperWords());
}

// True when a byte of the word is `c`: a byte of the xor is then zero.
static bool HoldsByte(uint64_t word, char c) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  uint64_t x = word ^ (static_cast<unsigned char>(c) * kOnes);
  return ((x - kOnes) & ~x & (0x80 * kOnes)) != 0;
}

// Eight bytes at a time: every source's base name is asked.
bool IsLiteralPattern(std::string_view pattern) {
  size_t i = 0;
  for (; i + 8 <= pattern.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, pattern.data() + i, 8);
    if (HoldsByte(word, '*') || HoldsByte(word, '?')) return false;
  }
  if (i == pattern.size()) return true;
  uint64_t tail = TailWord(pattern, i);
  return !HoldsByte(tail, '*') && !HoldsByte(tail, '?');
}

// The byte length of the character at text[i], led by a byte beyond ASCII.
[[gnu::noinline]] static size_t WideCharLength(std::string_view text, size_t i, bool utf8) {
  unsigned char lead = static_cast<unsigned char>(text[i]);
  if (!utf8 || lead < 0xC2 || lead > 0xF4) return 1;
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (text.size() - i < length) return 1;
  // The second byte's range excludes overlong forms, surrogates and values
  // past U+10FFFF.
  unsigned char second = static_cast<unsigned char>(text[i + 1]);
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 1;
  for (size_t k = 2; k < length; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  return length;
}

// The byte length of the character at text[i].
static inline size_t CharLength(std::string_view text, size_t i, bool utf8) {
  return static_cast<unsigned char>(text[i]) < 0x80 ? 1 : WideCharLength(text, i, utf8);
}

static bool HasByteBeyondAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// One character of the pattern against one of the name, either beyond
// ASCII: as the file system folds them.
[[gnu::noinline]] static bool SameWideChar(std::string_view p, std::string_view n,
                                           const NameRules& rules) {
  if (p == n) return true;
  return rules.sameIgnoringCase != nullptr ? rules.sameIgnoringCase(p, n) : EqualIgnoringCase(p, n);
}

// Greedy matching with one backtrack point: a later "*" makes earlier ones
// irrelevant, so the cost stays O(pattern x name) at worst. Both texts are
// walked a character at a time, so "?" and a star's run never split one.
static bool MatchWildcards(std::string_view pattern, std::string_view name, const NameRules& rules) {
  bool utf8 = rules.utf8;
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      unsigned char pc = static_cast<unsigned char>(pattern[p]);
      unsigned char nc = static_cast<unsigned char>(name[n]);
      if (pc == '*') {
        starP = p++;
        starN = n;
        continue;
      }
      if (((pc | nc) & 0x80) == 0) {
        if (pc == '?' ||
            AsciiUpperChar(static_cast<char>(pc)) == AsciiUpperChar(static_cast<char>(nc))) {
          ++p;
          ++n;
          continue;
        }
      } else if (pc == '?') {
        ++p;
        n += CharLength(name, n, utf8);
        continue;
      } else {
        size_t patternChar = CharLength(pattern, p, utf8), nameChar = CharLength(name, n, utf8);
        if (SameWideChar(pattern.substr(p, patternChar), name.substr(n, nameChar), rules)) {
          p += patternChar;
          n += nameChar;
          continue;
        }
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP + 1;
    starN += CharLength(name, starN, utf8);
    n = starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// "*" and a plain ASCII tail, compared from the end: 1 a match, -1 none, 0
// undecided where a byte beyond ASCII in the name might fold to the tail's.
static int MatchAsciiTailByBytes(std::string_view tail, std::string_view name) {
  for (size_t k = 1; k <= tail.size(); ++k) {
    if (k > name.size()) return -1;
    char c = name[name.size() - k];
    if (AsciiUpperChar(c) != AsciiUpperChar(tail[tail.size() - k]))
      return static_cast<unsigned char>(c) < 0x80 ? -1 : 0;
  }
  return 1;
}

// The same a word at a time where the name's end is plain ASCII, as it
// nearly always is: a tail of fewer than eight bytes is one word.
static int MatchAsciiTail(std::string_view tail, std::string_view name) {
  if (tail.size() > name.size()) return -1;
  std::string_view end = name.substr(name.size() - tail.size());
  constexpr uint64_t kHigh = 0x8080808080808080u;
  if (tail.size() < 8) {
    uint64_t a = TailWord(end, 0), b = TailWord(tail, 0);
    if (a & kHigh) return MatchAsciiTailByBytes(tail, name);
    return a == b || AsciiUpperEight(a) == AsciiUpperEight(b) ? 1 : -1;
  }
  // Words from the end; the first word overlaps the one after it.
  for (size_t at = tail.size(); at > 0;) {
    at = at >= 8 ? at - 8 : 0;
    uint64_t a, b;
    std::memcpy(&a, end.data() + at, 8);
    std::memcpy(&b, tail.data() + at, 8);
    if (a & kHigh) return MatchAsciiTailByBytes(tail, name);
    if (a != b && AsciiUpperEight(a) != AsciiUpperEight(b)) return -1;
  }
  return 1;
}

PreparedPattern PreparePattern(std::string_view pattern, const NameRules& rules) {
  PreparedPattern prepared;
  prepared.pattern = pattern;
  prepared.starThenLiteral =
      !pattern.empty() && pattern[0] == '*' && IsLiteralPattern(pattern.substr(1));
  prepared.asciiTail = prepared.starThenLiteral && !HasByteBeyondAscii(pattern.substr(1));
  prepared.dotlessEnding = pattern.ends_with(".*") ? 2 : pattern.ends_with(".") ? 1 : 0;
  prepared.rules = rules;
  return prepared;
}

bool MatchPrepared(const PreparedPattern& prepared, std::string_view name) {
  std::string_view pattern = prepared.pattern;
  bool matched;
  if (prepared.asciiTail) {
    // The common shape "*.EXT": only the tail is compared, unless a letter
    // beyond ASCII in the name might fold to the tail's.
    int tail = MatchAsciiTail(pattern.substr(1), name);
    matched = tail > 0 || (tail == 0 && MatchWildcards(pattern, name, prepared.rules));
  } else {
    matched = MatchWildcards(pattern, name, prepared.rules);
  }
  if (matched) return true;
  if (prepared.dotlessEnding == 0 || name.find('.') != std::string_view::npos) return false;
  return MatchWildcards(pattern.substr(0, pattern.size() - prepared.dotlessEnding), name,
                        prepared.rules);
}

bool MatchPattern(std::string_view pattern, std::string_view name, const NameRules& rules) {
  return MatchPrepared(PreparePattern(pattern, rules), name);
}
