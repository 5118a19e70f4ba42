#include "run/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/cp866.h"

namespace {

std::string Bytes(std::initializer_list<unsigned char> codes) {
  return std::string(codes.begin(), codes.end());
}

}  // namespace

TEST(Messages, CyrillicLettersMapToCodePage866AtTheRangeEdges) {
  // А П Р Я а п р я Ё ё: the two halves of the lower case sit apart in 866.
  constexpr Cp866Text letters{u8"АПРЯапряЁё"};
  EXPECT_EQ(letters.view(), Bytes({0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xAF, 0xE0, 0xEF, 0xF0, 0xF1}));
  constexpr Cp866Text ascii{u8"a Z/?.\r\n"};
  EXPECT_EQ(ascii.view(), "a Z/?.\r\n");
  constexpr Cp866Text empty{u8""};
  EXPECT_EQ(empty.view(), "");
}

TEST(Messages, PromptsHaveTheirExactByteLengths) {
  EXPECT_EQ(std::string_view(text::kAskStart).size(), 41u);
  EXPECT_EQ(std::string_view(text::kRemoving).size(), 17u);
  EXPECT_EQ(std::string_view(text::kConfirm).size(), 20u);
  EXPECT_EQ(std::string_view(text::kCannotRemove).size(), 22u);
  EXPECT_EQ(std::string_view(text::kRemovedSize).size(), 26u);
  EXPECT_EQ(std::string_view(text::kFreed).size(), 26u);
}

TEST(Messages, StartQuestionIsStoredInCodePage866) {
  std::string_view ask = text::kAskStart;
  EXPECT_EQ(ask.substr(0, 5), Bytes({0x81, 0xE3, 0xA4, 0xA5, 0xE2}));  // Будет
  EXPECT_TRUE(ask.ends_with(" ? Y/N: "));
  EXPECT_EQ(std::string_view(text::kBytes), Bytes({' ', 0xA1, 0xA0, 0xA9, 0xE2}));  // " байт"
}

TEST(Messages, PromptsEndInTheirTrailingSpaces) {
  EXPECT_TRUE(std::string_view(text::kRemoving).ends_with(":  "));
  EXPECT_TRUE(std::string_view(text::kConfirm).ends_with("Y/N:  "));
  EXPECT_TRUE(std::string_view(text::kCannotRemove).ends_with(": "));
  EXPECT_TRUE(std::string_view(text::kBanner3).starts_with("   "));
}

TEST(Messages, NoMessageCarriesUtf8Bytes) {
  // 0xD0 and 0xD1 lead every UTF-8 Cyrillic letter and are box-drawing
  // characters in 866, which no message uses.
  for (std::string_view message :
       {text::kBanner1.view(), text::kBanner2.view(), text::kBanner3.view(), text::kAskStart.view(),
        text::kRemoving.view(), text::kConfirm.view(), text::kCannotRemove.view(),
        text::kCannotEnter.view(), text::kRemovedSize.view(), text::kFreed.view(),
        text::kBytes.view(), text::kStopped.view(), text::kParameterError.view(),
        text::kHelpDirectory.view(), text::kHelpS.view()}) {
    EXPECT_EQ(message.find_first_of("\xD0\xD1"), std::string_view::npos) << message;
  }
}
