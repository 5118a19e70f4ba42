#include "common/match.h"

#include "common/names.h"

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpperChar(a[i]) != AsciiUpperChar(b[i])) return false;
  return true;
}

bool IsLiteralPattern(std::string_view pattern) {
  return pattern.find_first_of("*?") == std::string_view::npos;
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

bool MatchPattern(std::string_view pattern, std::string_view name) {
  if (MatchWildcards(pattern, name)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  if (pattern.ends_with(".*")) return MatchWildcards(pattern.substr(0, pattern.size() - 2), name);
  if (pattern.ends_with(".")) return MatchWildcards(pattern.substr(0, pattern.size() - 1), name);
  return false;
}
