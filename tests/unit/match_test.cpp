#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace {

using Names = std::initializer_list<std::string_view>;

// One pattern against the names it must find and the names it must not.
void ExpectMatches(std::string_view pattern, Names found, Names notFound = {}) {
  for (std::string_view name : found)
    EXPECT_TRUE(MatchPattern(pattern, name, NamesRules())) << pattern << " should match " << name;
  for (std::string_view name : notFound)
    EXPECT_FALSE(MatchPattern(pattern, name, NamesRules())) << pattern << " should not match " << name;
}

}  // namespace

TEST(Matcher, StarMatchesAnyRunIncludingDotsAndNothing) {
  ExpectMatches("*", {"a", "a.b.c", ".hidden"});
  ExpectMatches("*.BAK", {"x.y.BAK", ".BAK"}, {"BAK", "x.BAK.old"});
  ExpectMatches("A*", {"A", "ABC", "A.B"}, {"BA"});
  ExpectMatches("*.~*", {"unit.~pa", "unit.~"}, {"unit.pas"});
}

TEST(Matcher, QuestionMarkMatchesExactlyOneCharacter) {
  ExpectMatches("A?C", {"ABC", "A.C"}, {"AC", "ABBC"});
  ExpectMatches("X.BA?", {"X.BAK"}, {"X.BA", "X.BAKE"});
  ExpectMatches("X.BAK?", {"X.BAKS"}, {"X.BAK"});
  ExpectMatches("??", {"AB"}, {"A", "ABC"});
}

TEST(Matcher, AnExtensionPatternDoesNotMatchLongerExtensions) {
  ExpectMatches("*.PAS", {"x.pas", "X.PAS"}, {"x.pascal", "x.pa", "xpas"});
  ExpectMatches("*.BAK", {"notes.bak"}, {"notes.bakup"});
}

TEST(Matcher, LiteralPatternMatchesOnlyItsOwnName) {
  ExpectMatches("A.PAS", {"a.pas", "A.PAS"}, {"A.PAS2", "BA.PAS", "A.PA", "A"});
}

TEST(Matcher, StarDotStarMatchesEveryNameWithOrWithoutDot) {
  ExpectMatches("*.*", {"x", "x.y", "a.b.c", "name.", ".hidden", "NOEXT"});
}

TEST(Matcher, ADotEndingMatchesANameWithoutDotAsIfDropped) {
  ExpectMatches("NOEXT.*", {"NOEXT", "noext.txt", "NOEXT."}, {"NOEXTRA", "NOEX"});
  ExpectMatches("NOEXT.", {"noext"}, {"noext.txt"});
  ExpectMatches("A?.*", {"AB", "AB.C"}, {"A", "A.BC"});
}

TEST(Matcher, StarDotMatchesOnlyNamesWithoutADot) {
  ExpectMatches("*.", {"x", "NOEXT", "makefile"}, {"x.y", "a.b.c", ".hidden", "prog.pas"});
}

TEST(Matcher, SeveralStarsMatchInOrder) {
  ExpectMatches("*a*b*", {"xxaxxbxx", "ab"}, {"xxbxxaxx"});
  ExpectMatches("**.BAK", {"a.BAK"}, {"a.BAKX"});
  ExpectMatches("a*b*c", {"abbbcbc"}, {"abbbcb"});
  // The later star must retry after a partial match of the tail.
  ExpectMatches("*ab*abc", {"ab_abab_abc"}, {"ab_abab_ab"});
  ExpectMatches("*?.?", {"ab.c"}, {".c"});
}

TEST(Matcher, EmptyPatternMatchesNoName) { ExpectMatches("", {}, {"a", ".", "x.y", "*"}); }

TEST(Matcher, MatchingIgnoresOnlyAsciiCase) {
  ExpectMatches("*.bak", {"X.BAK", "x.bak"});
  ExpectMatches("PROG.*", {"prog.exe"});
  // Bytes 32 apart that are not a-z/A-Z pairs must not be folded.
  ExpectMatches("[", {"["}, {"{"});
  ExpectMatches("@.X", {"@.x"}, {"`.X"});
  // Code page 866 а (0xA0) and А (0x80), р (0xE0) and Р (0x90) compare exactly.
  ExpectMatches("\xA0.PAS", {"\xA0.pas"}, {"\x80.PAS"});
  ExpectMatches("*\xE0", {"x\xE0"}, {"x\x90"});
}

TEST(Matcher, LongNamesMatchWithoutBlowup) {
  const std::string as(200, 'a');
  ExpectMatches("*a*a*a*a*b", {as + "b"}, {as});
  ExpectMatches("*a*a*a*a*.*", {as});
  ExpectMatches("*?*?*?*?*.", {as}, {as + "." + as});
  std::string manyStars;
  for (int i = 0; i < 30; ++i) manyStars += "*a";
  ExpectMatches(manyStars + "*b", {std::string(4000, 'a') + "b"}, {std::string(4000, 'a')});
}

TEST(Matcher, LiteralPatternHasNoWildcard) {
  for (std::string_view literal : {"A.PAS", "SUB\\X.BAK", "name."})
    EXPECT_TRUE(IsLiteralPattern(literal)) << literal;
  for (std::string_view wild : {"*.BAK", "A?.X", "prog.*"})
    EXPECT_FALSE(IsLiteralPattern(wild)) << wild;
}

TEST(Matcher, TailsAndWildcardsAreSeenAtEveryLengthAndPosition) {
  // A "*" pattern's tail is compared, and a pattern looked through for
  // wildcards, eight bytes at a time: each length and position must count.
  for (size_t length = 1; length <= 17; ++length) {
    std::string tail;
    for (size_t i = 0; i < length; ++i) tail += static_cast<char>('a' + i % 26);
    std::string star = "*", name = "\xE1";
    star += tail;
    name += AsciiUpper(tail);
    SCOPED_TRACE(tail);
    EXPECT_TRUE(MatchPattern(star, name, NamesRules()));
    EXPECT_TRUE(IsLiteralPattern(tail));
    for (size_t k = 0; k < length; ++k) {
      for (char other : {'_', '\xE1'}) {
        std::string changed = name;
        changed[k + 1] = other;
        EXPECT_FALSE(MatchPattern(star, changed, NamesRules())) << k;
      }
      for (char wildcard : {'*', '?'}) {
        std::string wild = tail;
        wild[k] = wildcard;
        EXPECT_FALSE(IsLiteralPattern(wild)) << k;
      }
    }
  }
}

TEST(Matcher, EqualIgnoringCaseFoldsAsciiLettersOnly) {
  EXPECT_TRUE(EqualIgnoringCase("prog.EXE", "PROG.exe"));
  EXPECT_TRUE(EqualIgnoringCase("", ""));
  EXPECT_TRUE(EqualIgnoringCase("\xA0z", "\xA0Z"));
  EXPECT_FALSE(EqualIgnoringCase("A", "AA"));
  EXPECT_FALSE(EqualIgnoringCase("AB", "A"));
  EXPECT_FALSE(EqualIgnoringCase("[\\]^", "{|}~"));
  EXPECT_FALSE(EqualIgnoringCase("@", "`"));
  EXPECT_FALSE(EqualIgnoringCase("\xA0", "\x80"));
  EXPECT_FALSE(EqualIgnoringCase(std::string_view("a\0b", 3), std::string_view("a\0c", 3)));
}
