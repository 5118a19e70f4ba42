// The pattern matcher, plain and prepared, against a table-driven reference:
// the first input byte is the pattern's length, the rest after the pattern
// is the name.
#include <string_view>
#include <vector>

#include "common/match.h"
#include "fuzz_support.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

// match[i][j]: the first i pattern characters match the first j name
// characters.
bool ReferenceWildcards(std::string_view pattern, std::string_view name) {
  const size_t width = name.size() + 1;
  std::vector<char> match((pattern.size() + 1) * width, 0);
  match[0] = 1;
  for (size_t i = 1; i <= pattern.size(); ++i) {
    char p = pattern[i - 1];
    for (size_t j = 0; j <= name.size(); ++j) {
      bool here;
      if (p == '*')
        here = match[(i - 1) * width + j] || (j > 0 && match[i * width + j - 1]);
      else
        here =
            j > 0 && match[(i - 1) * width + j - 1] && (p == '?' || Lower(p) == Lower(name[j - 1]));
      match[i * width + j] = here;
    }
  }
  return match[pattern.size() * width + name.size()];
}

bool ReferenceMatch(std::string_view pattern, std::string_view name) {
  if (ReferenceWildcards(pattern, name)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  for (std::string_view ending : {".*", "."})
    if (pattern.ends_with(ending))
      return ReferenceWildcards(pattern.substr(0, pattern.size() - ending.size()), name);
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view rest = BytesOf(data + 1, size - 1);
  std::string_view pattern = rest.substr(0, data[0]);
  std::string_view name = rest.substr(pattern.size());
  // Long names only slow the quadratic reference down; a file name has at
  // most 255 bytes.
  if (name.size() > 1024) return 0;

  bool expected = ReferenceMatch(pattern, name);
  FUZZ_REQUIRE(MatchPattern(pattern, name) == expected);
  FUZZ_REQUIRE(MatchPrepared(PreparePattern(pattern), name) == expected);

  bool literal = pattern.find_first_of("*?") == std::string_view::npos;
  FUZZ_REQUIRE(IsLiteralPattern(pattern) == literal);
  if (literal) {
    FUZZ_REQUIRE(MatchPattern(pattern, pattern));
    FUZZ_REQUIRE(EqualIgnoringCase(pattern, name) == ReferenceWildcards(pattern, name));
  }
  return 0;
}
