#include "common/match.h"

#include "common/names.h"

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpperChar(a[i]) != AsciiUpperChar(b[i])) return false;
  return true;
}

bool IsLiteralPattern(std::string_view pattern) {
  for (char c : pattern)
    if (c == '*' || c == '?') return false;
  return true;
}

// Greedy matching with one backtrack point: a later "*" makes earlier ones
// irrelevant, so the cost stays O(pattern x name) at worst.
static bool MatchWildcards(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || AsciiUpperChar(pattern[p]) == AsciiUpperChar(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PreparedPattern PreparePattern(std::string_view pattern) {
  PreparedPattern prepared;
  prepared.pattern = pattern;
  prepared.starThenLiteral =
      !pattern.empty() && pattern[0] == '*' && IsLiteralPattern(pattern.substr(1));
  prepared.dotlessEnding = pattern.ends_with(".*") ? 2 : pattern.ends_with(".") ? 1 : 0;
  return prepared;
}

bool MatchPrepared(const PreparedPattern& prepared, std::string_view name) {
  std::string_view pattern = prepared.pattern;
  if (prepared.starThenLiteral) {
    // The common shape "*.EXT": only the tail is compared.
    std::string_view tail = pattern.substr(1);
    if (name.size() >= tail.size() &&
        EqualIgnoringCase(name.substr(name.size() - tail.size()), tail))
      return true;
  } else if (MatchWildcards(pattern, name)) {
    return true;
  }
  if (prepared.dotlessEnding == 0 || name.find('.') != std::string_view::npos) return false;
  return MatchWildcards(pattern.substr(0, pattern.size() - prepared.dotlessEnding), name);
}

bool MatchPattern(std::string_view pattern, std::string_view name) {
  return MatchPrepared(PreparePattern(pattern), name);
}
