// The pattern matcher, plain and prepared, against a table-driven reference:
// the first input byte is the pattern's length, the rest after the pattern
// is the name.
#include <string_view>
#include <vector>

#include "common/match.h"
#include "platform/platform.h"
#include "fuzz_support.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

// The length of the UTF-8 sequence at text[i], decoded: a lead byte, its
// continuation bytes, and a value no shorter form holds, no surrogate, at
// most U+10FFFF. 1 where there is none, or names are not UTF-8.
size_t ReferenceCharLength(std::string_view text, size_t i, bool utf8) {
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = (lead & 0xE0) == 0xC0   ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 1;
  if (!utf8 || length == 1 || text.size() - i < length) return 1;
  uint32_t value = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 1;
    value = (value << 6) | (next & 0x3F);
  }
  bool valid =
      value >= kLeast[length] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
  return valid ? length : 1;
}

std::vector<std::string_view> Characters(std::string_view text, bool utf8) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < text.size();) {
    size_t length = ReferenceCharLength(text, i, utf8);
    out.push_back(text.substr(i, length));
    i += length;
  }
  return out;
}

// A pattern character against a name character: ASCII letters in either
// case, anything else byte for byte (the POSIX folding).
bool SameCharacter(std::string_view p, std::string_view n) {
  if (p.size() == 1 && n.size() == 1) return Lower(p[0]) == Lower(n[0]);
  return p == n;
}

// match[i][j]: the first i pattern characters match the first j name
// characters.
bool ReferenceWildcards(std::string_view patternText, std::string_view nameText, bool utf8) {
  std::vector<std::string_view> pattern = Characters(patternText, utf8);
  std::vector<std::string_view> name = Characters(nameText, utf8);
  const size_t width = name.size() + 1;
  std::vector<char> match((pattern.size() + 1) * width, 0);
  match[0] = 1;
  for (size_t i = 1; i <= pattern.size(); ++i) {
    std::string_view p = pattern[i - 1];
    for (size_t j = 0; j <= name.size(); ++j) {
      bool here;
      if (p == "*")
        here = match[(i - 1) * width + j] || (j > 0 && match[i * width + j - 1]);
      else
        here =
            j > 0 && match[(i - 1) * width + j - 1] && (p == "?" || SameCharacter(p, name[j - 1]));
      match[i * width + j] = here;
    }
  }
  return match[pattern.size() * width + name.size()];
}

bool ReferenceMatch(std::string_view pattern, std::string_view name, bool utf8) {
  if (ReferenceWildcards(pattern, name, utf8)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  for (std::string_view ending : {".*", "."})
    if (pattern.ends_with(ending))
      return ReferenceWildcards(pattern.substr(0, pattern.size() - ending.size()), name, utf8);
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

  // Names are UTF-8 on POSIX; a Windows code page other than UTF-8 makes
  // every byte a character.
  bool expected = ReferenceMatch(pattern, name, true);
  NameRules rules = NamesRules();
  FUZZ_REQUIRE(MatchPattern(pattern, name, rules) == expected);
  PreparedPattern prepared = PreparePattern(pattern, rules);
  FUZZ_REQUIRE(MatchPrepared(prepared, name) == expected);
  prepared.rules.utf8 = false;
  FUZZ_REQUIRE(MatchPrepared(prepared, name) == ReferenceMatch(pattern, name, false));

  bool literal = pattern.find_first_of("*?") == std::string_view::npos;
  FUZZ_REQUIRE(IsLiteralPattern(pattern) == literal);
  if (literal) {
    FUZZ_REQUIRE(MatchPattern(pattern, pattern, rules));
    FUZZ_REQUIRE(EqualIgnoringCase(pattern, name) == ReferenceWildcards(pattern, name, true));
  }
  return 0;
}
