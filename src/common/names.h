// File-name helpers and AsciiUpper over 8-bit byte texts. Separators are
// "\" and ":" on Windows, "/" on POSIX; the helpers take the style so both
// can be tested on either build.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

enum class PathStyle { Windows, Posix };

#if defined(KELVO_WIN32)
inline constexpr PathStyle kNativeStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativeStyle = PathStyle::Posix;
#endif

constexpr bool IsSeparator(char c, PathStyle style = kNativeStyle) {
  return style == PathStyle::Windows ? c == '\\' || c == ':' : c == '/';
}
// The character that joins a directory text and a name.
inline char JoinSeparator(PathStyle style = kNativeStyle) {
  return style == PathStyle::Windows ? '\\' : '/';
}

// Up to and including the last separator; empty if there is none.
std::string_view PathPart(std::string_view path, PathStyle style = kNativeStyle);
// After the last separator; the whole text if there is none.
std::string_view NamePart(std::string_view path, PathStyle style = kNativeStyle);
// From the last "." to the end, dot included, unless a separator follows it.
std::string_view ExtensionPart(std::string_view path, PathStyle style = kNativeStyle);
// NamePart less its extension.
std::string_view BaseName(std::string_view path, PathStyle style = kNativeStyle);
// The same for a name known to hold no separator, such as one a directory
// listed: only the bytes after its last dot are looked at.
inline std::string_view BaseOfName(std::string_view name) {
  return name.substr(0, std::min(name.size(), name.rfind('.')));
}

// dir + separator (left out when dir already ends in one) + name.
std::string JoinPath(std::string_view dir, std::string_view name, PathStyle style = kNativeStyle);
// The same join made in `dir` itself, so a path grown a name at a time costs
// only the name.
void AppendToPath(std::string& dir, std::string_view name, PathStyle style = kNativeStyle);

// A copy with a-z changed to A-Z and every other byte kept.
std::string AsciiUpper(std::string_view text);
inline char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
// AsciiUpperChar on eight bytes at once: a byte is a lower-case letter when
// adding 0x1F sets its top bit and adding 0x05 does not, and its own top bit
// is clear; no sum carries into the next byte.
inline uint64_t AsciiUpperEight(uint64_t bytes) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  uint64_t low = bytes & (0x7F * kOnes);
  uint64_t lower = (low + 0x1F * kOnes) & ~(low + 0x05 * kOnes) & ~bytes & (0x80 * kOnes);
  return bytes & ~(lower >> 2);
}
// The same as a type, for the word-wise comparison and hash below: a
// function object is inlined where a function pointer would be called.
struct AsciiUpperWords {
  uint64_t operator()(uint64_t bytes) const { return AsciiUpperEight(bytes); }
};

// The bytes of `text` from `at` on, eight at most, in one word: loads that
// overlap where there are four or more, so a short name costs no loop. Texts
// equal byte for byte give equal words.
inline uint64_t TailWord(std::string_view text, size_t at) {
  const char* p = text.data() + at;
  size_t n = text.size() - at;
  uint32_t head = 0, last = 0;
  if (n >= 4) {
    std::memcpy(&head, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    return head | (uint64_t{last} << 32);
  }
  if (n == 0) return 0;
  // One, two or three bytes: the first, the middle and the last.
  return uint64_t{static_cast<unsigned char>(p[0])} |
         (uint64_t{static_cast<unsigned char>(p[n / 2])} << 8) |
         (uint64_t{static_cast<unsigned char>(p[n - 1])} << 16);
}

// Texts of more than a word, compared and hashed a word at a time up to
// their last one, which is left to the caller: kept apart so that the
// short texts, most names and nearly every extension, take no loop.
template <typename Fold>
[[gnu::noinline]] bool EqualFoldedHeads(std::string_view a, std::string_view b, size_t& at, Fold fold) {
  for (at = 0; at + 8 < a.size(); at += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + at, 8);
    std::memcpy(&y, b.data() + at, 8);
    if (x != y && fold(x) != fold(y)) return false;
  }
  return true;
}
inline uint64_t MixWord(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15u;
  return hash ^ (hash >> 29);
}
template <typename Fold>
[[gnu::noinline]] uint64_t HashFoldedHeads(std::string_view text, size_t& at, Fold fold) {
  uint64_t hash = text.size();
  for (at = 0; at + 8 < text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    hash = MixWord(hash, fold(word));
  }
  return hash;
}

// Texts compared eight bytes at a time, each word folded by `fold` as the
// names' code page folds case (the caller's: this layer knows no code page):
// the names of a directory are compared far more often than they are read.
template <typename Fold>
bool EqualFoldedByWords(std::string_view a, std::string_view b, Fold fold) {
  if (a.size() != b.size()) return false;
  size_t at = 0;
  if (a.size() > 8 && !EqualFoldedHeads(a, b, at, fold)) return false;
  uint64_t x = TailWord(a, at), y = TailWord(b, at);
  return x == y || fold(x) == fold(y);
}

// A hash that agrees with EqualFoldedByWords under the same fold.
template <typename Fold>
uint32_t HashFoldedByWords(std::string_view text, Fold fold) {
  size_t at = 0;
  uint64_t hash = text.size() > 8 ? HashFoldedHeads(text, at, fold) : text.size();
  hash = MixWord(hash, fold(TailWord(text, at)));
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}
