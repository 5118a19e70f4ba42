// The program's own file-name pattern matcher, applied to long names on both
// builds: "*" is any run of characters (dots included), "?" exactly one, ASCII
// letters match either case. For a name without a dot, a pattern ending in
// ".*" or "." also matches as the pattern less that ending, so "*.*" matches
// every name and "*." every name without a dot.
#pragma once

#include <string_view>

bool MatchPattern(std::string_view pattern, std::string_view name);

// A pattern looked at once for matching many names. It refers to the
// pattern's text, which must outlive it.
struct PreparedPattern {
  std::string_view pattern;
  bool starThenLiteral = false;  // "*" and a literal tail, such as "*.BAK"
  size_t dotlessEnding = 0;      // length of a closing ".*" or "."
};
PreparedPattern PreparePattern(std::string_view pattern);
bool MatchPrepared(const PreparedPattern& prepared, std::string_view name);

// True when the pattern holds no "*" or "?": it names one entry.
bool IsLiteralPattern(std::string_view pattern);

// Letters compared without regard to ASCII case.
bool EqualIgnoringCase(std::string_view a, std::string_view b);
