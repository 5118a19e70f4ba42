#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/sweep.h"

namespace {

using Words = std::vector<std::string>;

// Splits the way the rule pass does: until the line is empty, every word
// kept, empty ones included.
Words AllWords(std::string_view line) {
  Words words;
  std::string_view word;
  while (!line.empty()) {
    SplitFirstWord(line, word);
    words.emplace_back(word);
  }
  return words;
}

}  // namespace

TEST(SplitFirstWord, SplitCutsTheWordBeforeTheFirstSpace) {
  std::string_view line = "a b ", word = "old";
  SplitFirstWord(line, word);
  EXPECT_EQ(word, "a");
  EXPECT_EQ(line, "b ");
  SplitFirstWord(line, word);
  EXPECT_EQ(word, "b");
  EXPECT_EQ(line, "");
}

TEST(SplitFirstWord, SplitTakesOnlyOneSpaceAway) {
  std::string_view line = "a  b ", word;
  SplitFirstWord(line, word);
  EXPECT_EQ(word, "a");
  EXPECT_EQ(line, " b ");
}

TEST(SplitFirstWord, SplitOfALeadingSpaceGivesAnEmptyWord) {
  std::string_view line = " .PAS .EXE ", word = "old";
  SplitFirstWord(line, word);
  EXPECT_EQ(word, "");
  EXPECT_EQ(line, ".PAS .EXE ");
}

TEST(SplitFirstWord, SplitWithoutASpaceEmptiesBoth) {
  for (const char* text : {"abc", ".TPW", ""}) {
    std::string_view line = text, word = "old";
    SplitFirstWord(line, word);
    EXPECT_EQ(word, "") << text;
    EXPECT_EQ(line, "") << text;
  }
}

TEST(SplitFirstWord, ARuleLineSplitsIntoItsWordsInOrder) {
  EXPECT_EQ(AllWords(".PAS .EXE .TPU .TPP .TPW "), (Words{".PAS", ".EXE", ".TPU", ".TPP", ".TPW"}));
  EXPECT_EQ(AllWords(".BAK .BAK "), (Words{".BAK", ".BAK"}));
  EXPECT_EQ(AllWords(" .PAS .EXE "), (Words{"", ".PAS", ".EXE"}));
}

TEST(SplitFirstWord, ACutRuleLineEndsInAnEmptyWord) {
  // 80 characters: 15 words with their spaces, then ".W25X" cut before its
  // closing space, as a longer line stored into a rule slot would be.
  std::string cut;
  for (int i = 10; i < 25; ++i) cut += ".W" + std::to_string(i) + " ";
  cut += ".W25X";
  ASSERT_EQ(cut.size(), 80u);

  Words words = AllWords(cut);
  ASSERT_EQ(words.size(), 16u);
  EXPECT_EQ(words.front(), ".W10");
  EXPECT_EQ(words[14], ".W24");
  EXPECT_EQ(words.back(), "");
}
