// The program's own file-name pattern matcher, applied to long names on both
// builds: "*" is any run of characters (dots included), "?" exactly one,
// letters match either case as the file system folds them. A character is a
// whole UTF-8 sequence where names are UTF-8 and the bytes form one, otherwise
// one byte. For a name without a dot, a pattern ending in ".*" or "." also
// matches as the pattern less that ending, so "*.*" matches every name and
// "*." every name without a dot.
#pragma once

#include <string_view>

// How the names of a file system compare, told by whoever knows the file
// system (the platform layer's NameRules()): the matcher knows none.
struct NameRules {
  bool utf8 = true;  // a character is a whole UTF-8 sequence where the bytes form one
  // Two texts equal without regard to letter case, as the file system folds
  // them; nullptr: a-z only.
  bool (*sameIgnoringCase)(std::string_view a, std::string_view b) = nullptr;
};

// True when `name` matches `pattern` under `rules`.
bool MatchPattern(std::string_view pattern, std::string_view name, const NameRules& rules);

// A pattern looked at once for matching many names. It refers to the
// pattern's text, which must outlive it.
struct PreparedPattern {
  std::string_view pattern;
  bool starThenLiteral = false;  // "*" and a literal tail, such as "*.BAK"
  bool asciiTail = false;        // ... and that tail is plain ASCII
  size_t dotlessEnding = 0;      // length of a closing ".*" or "."
  NameRules rules;
};
PreparedPattern PreparePattern(std::string_view pattern, const NameRules& rules);
bool MatchPrepared(const PreparedPattern& prepared, std::string_view name);

// True when the pattern holds no "*" or "?": it names one entry.
bool IsLiteralPattern(std::string_view pattern);

// Letters compared without regard to ASCII case.
bool EqualIgnoringCase(std::string_view a, std::string_view b);
