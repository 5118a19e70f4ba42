#include "common/names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

constexpr PathStyle kWin = PathStyle::Windows;
constexpr PathStyle kPosix = PathStyle::Posix;

struct Split {
  std::string_view path, name, extension, base;
};

// Checks every helper on one text, so a case reads as one line of the table.
void ExpectSplit(std::string_view text, PathStyle style, Split want) {
  SCOPED_TRACE(std::string(text));
  EXPECT_EQ(PathPart(text, style), want.path);
  EXPECT_EQ(NamePart(text, style), want.name);
  EXPECT_EQ(ExtensionPart(text, style), want.extension);
  EXPECT_EQ(BaseName(text, style), want.base);
  if (want.path.empty()) {
    EXPECT_EQ(BaseOfName(text), want.base);
  }
}

}  // namespace

TEST(FileNames, OnlyTheLastDotStartsTheExtension) {
  for (PathStyle style : {kWin, kPosix}) {
    ExpectSplit("A.B.C", style, {"", "A.B.C", ".C", "A.B"});
    ExpectSplit("prog.pas", style, {"", "prog.pas", ".pas", "prog"});
    ExpectSplit("NOEXT", style, {"", "NOEXT", "", "NOEXT"});
    ExpectSplit("", style, {"", "", "", ""});
  }
}

TEST(FileNames, ANameEndingInADotHasTheDotAsItsExtension) {
  for (PathStyle style : {kWin, kPosix}) {
    ExpectSplit("name.", style, {"", "name.", ".", "name"});
    ExpectSplit("..", style, {"", "..", ".", "."});
    ExpectSplit(".hidden", style, {"", ".hidden", ".hidden", ""});
  }
}

TEST(FileNames, ADotInADirectoryIsNoExtensionOfTheName) {
  ExpectSplit("DIR.X\\FILE", kWin, {"DIR.X\\", "FILE", "", "FILE"});
  ExpectSplit("C:OLD.D\\NOEXT", kWin, {"C:OLD.D\\", "NOEXT", "", "NOEXT"});
  ExpectSplit("dir.x/file", kPosix, {"dir.x/", "file", "", "file"});
  ExpectSplit("a.b/c.d/e", kPosix, {"a.b/c.d/", "e", "", "e"});
}

TEST(FileNames, WindowsSplitsAtBackslashAndDriveColon) {
  ExpectSplit("C:\\", kWin, {"C:\\", "", "", ""});
  ExpectSplit("C:", kWin, {"C:", "", "", ""});
  ExpectSplit("C:A.EXE", kWin, {"C:", "A.EXE", ".EXE", "A"});
  ExpectSplit("C:\\WORK\\SUB\\X.BAK", kWin, {"C:\\WORK\\SUB\\", "X.BAK", ".BAK", "X"});
  ExpectSplit("\\\\server\\share\\a.b", kWin, {"\\\\server\\share\\", "a.b", ".b", "a"});
}

TEST(FileNames, PosixSplitsOnlyAtSlash) {
  ExpectSplit("/", kPosix, {"/", "", "", ""});
  ExpectSplit("/home/user/x.bak", kPosix, {"/home/user/", "x.bak", ".bak", "x"});
  // Backslash and colon are ordinary name bytes on POSIX.
  ExpectSplit("a\\b.c", kPosix, {"", "a\\b.c", ".c", "a\\b"});
  ExpectSplit("c:x.pas", kPosix, {"", "c:x.pas", ".pas", "c:x"});
  ExpectSplit("dir/we:ird.c\\d", kPosix, {"dir/", "we:ird.c\\d", ".c\\d", "we:ird"});
}

TEST(FileNames, WindowsTreatsSlashAsAnOrdinaryByte) {
  ExpectSplit("a/b.c", kWin, {"", "a/b.c", ".c", "a/b"});
  ExpectSplit("SUB\\x/y.z", kWin, {"SUB\\", "x/y.z", ".z", "x/y"});
}

TEST(FileNames, SeparatorsBelongToTheirStyle) {
  EXPECT_TRUE(IsSeparator('\\', kWin));
  EXPECT_TRUE(IsSeparator(':', kWin));
  EXPECT_FALSE(IsSeparator('/', kWin));
  EXPECT_TRUE(IsSeparator('/', kPosix));
  EXPECT_FALSE(IsSeparator('\\', kPosix));
  EXPECT_FALSE(IsSeparator(':', kPosix));
  EXPECT_EQ(JoinSeparator(kWin), '\\');
  EXPECT_EQ(JoinSeparator(kPosix), '/');
}

TEST(FileNames, JoiningAddsASeparatorOnlyWhenTheDirectoryLacksOne) {
  EXPECT_EQ(JoinPath("C:\\", "A.EXE", kWin), "C:\\A.EXE");
  EXPECT_EQ(JoinPath("C:\\WORK", "A.EXE", kWin), "C:\\WORK\\A.EXE");
  EXPECT_EQ(JoinPath("Z:\\tmp\\", "x", kWin), "Z:\\tmp\\x");
  EXPECT_EQ(JoinPath("/", "a.exe", kPosix), "/a.exe");
  EXPECT_EQ(JoinPath("/home/user", "a.exe", kPosix), "/home/user/a.exe");
  // Each style only recognises its own separator at the end.
  EXPECT_EQ(JoinPath("/home/", "a", kWin), "/home/\\a");
  EXPECT_EQ(JoinPath("dir\\", "a", kPosix), "dir\\/a");
}

TEST(FileNames, AsciiUpperChangesOnlyLatinLowercaseLetters) {
  EXPECT_EQ(AsciiUpper("prog.pas"), "PROG.PAS");
  EXPECT_EQ(AsciiUpper("MiXeD_09.~b"), "MIXED_09.~B");
  EXPECT_EQ(AsciiUpper("az"), "AZ");
  // Neighbours of a-z whose codes differ from a capital by 32 stay.
  EXPECT_EQ(AsciiUpper("`{|}~@[\\]^"), "`{|}~@[\\]^");
  // Code page 866 letters (а п р я ё) and other high bytes stay.
  const std::string high = "\xA0\xAF\xE0\xEF\xF1\x80\xFF";
  EXPECT_EQ(AsciiUpper(high), high);
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(AsciiUpper(withNul), std::string("A\0B", 3));
  EXPECT_EQ(AsciiUpper(""), "");
}

TEST(FileNames, ALiteralNameAmongManyOfItsExtensionFindsTheExactEntryFirst) {
  // Past a few entries of one extension a name is looked up through the
  // hash of all names: the exact spelling first, else the first in order.
  ScratchDir dir;
  for (int i = 0; i < 40; ++i) {
    std::string name = "n";
    dir.Put(name.append(std::to_string(i)).append(".o"), "");
  }
  dir.Put("PROG.O", "1");
  dir.Put("prog.o", "22");
  // Searched from inside, as a sweep searches: an absolute name finds nothing.
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir.path()));
  TSearchRec rec;
  for (auto [asked, found] : {std::pair{"prog.o", "prog.o"}, {"PROG.O", "PROG.O"},
                              {"Prog.o", "PROG.O"}, {"N39.O", "n39.o"}}) {
    SCOPED_TRACE(asked);
    EXPECT_TRUE(SearchFirst(asked, kFilesOnly, rec));
    EXPECT_EQ(rec.name, found);
    SearchClose(rec);
  }
  EXPECT_FALSE(SearchFirst("n40.o", kFilesOnly, rec));
  SearchClose(rec);
  ChangeDirectory(before);
}

#if !defined(KELVO_WIN32)
TEST(FileNames, NamesEqualButForCaseMatchAndHashAlikeAtEveryLengthAndByte) {
  // Names are folded a word of eight bytes at a time, the last word of a
  // name loaded overlapping: every length and position must count each
  // byte once, and only a-z fold.
  for (size_t length = 1; length <= 17; ++length) {
    std::string lower, upper;
    for (size_t i = 0; i < length; ++i) {
      lower += static_cast<char>('a' + i % 26);
      upper += static_cast<char>('A' + i % 26);
    }
    SCOPED_TRACE(lower);
    EXPECT_TRUE(SameNameIgnoringCase(lower, upper));
    EXPECT_EQ(HashIgnoringCase(lower), HashIgnoringCase(upper));
    EXPECT_FALSE(SameNameIgnoringCase(lower, upper.substr(1)));
    for (size_t k = 0; k < length; ++k) {
      // Pairs that differ by the bit of case and are no letters: "`" and
      // "@", and bytes beyond ASCII.
      for (auto [a, b] : {std::pair{'`', '@'}, {'\xE1', '\xC1'}, {'\xFA', '\xDA'}, {'a', '_'}}) {
        std::string x = lower, y = upper;
        x[k] = a;
        y[k] = b;
        EXPECT_FALSE(SameNameIgnoringCase(x, y)) << k;
        y[k] = a;
        EXPECT_TRUE(SameNameIgnoringCase(x, y)) << k;
        EXPECT_EQ(HashIgnoringCase(x), HashIgnoringCase(y)) << k;
      }
    }
  }
}
#endif
