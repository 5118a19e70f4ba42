// File names: matched by their long form only, and written byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Names, LongNamesAreNotMatchedThroughTheirShortAlias) {
  // The Windows kernel finds x.pascal for *.PAS through its 8.3 alias (as
  // X~1.PAS) and notes.bakup for *.BAK: were either taken for a match, x.exe
  // and notes.bakup would go though nobody named them. y.pas shows the sweep
  // did run.
  ScopedTree tree({"x.pascal", "x.exe=MZ", "notes.bakup=notes", "y.pas", "y.exe=MZ!"});
  RunResult run = RunKelvo(tree, Keys("yyyy"));
  const char* shown = UnderWine() ? "y.EXE" : "y.exe";
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, shown, 'Y').Summary(3)));
  EXPECT_EQ(tree.Left(), (Names{"notes.bakup", "x.exe", "x.pascal", "y.pas"}));
}

TEST(Names, ASourceNamedWithWildcardsHasOnlyTheDerivedFileOfExactlyItsName) {
  if (UnderWine()) GTEST_SKIP() << "Windows names cannot hold \"*\" or \"?\"";
  // *.c makes the derived name *.o, and ?.c makes ?.o: names, never
  // patterns that would offer a.o and b.o, which no source of theirs made.
  ScopedTree tree({"*.c", "?.c", "?.o=12", "a.o=3", "b.o=4"});
  RunResult run = RunKelvo(tree, Keys("yy").WithCompanions({"KELVO.EXT=.c .o\r\n"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "?.o", 'Y').Summary(2)));
  EXPECT_EQ(tree.Left(), (Names{"*.c", "?.c", "a.o", "b.o"}));
}

TEST(Names, ControlBytesInNamesAreWrittenAsTheyAreToAFile) {
  // Only a terminal gets them masked; a file gets the name's own bytes.
  // Answered N: Windows cannot delete a name that holds control characters,
  // and the name's bytes are what is tested here.
  const std::string name = "e\x1b[2J\x07.BAK";
  ScopedTree tree({name + "=bak"});
  RunResult run = RunKelvo(tree, Keys("yn"));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, name, 'N').Summary(0)));
  EXPECT_EQ(tree.Left(), Names{name});
}

TEST(Names, NamesThatAreNotUtf8AreWrittenAsTheyAre) {
  if (UnderWine()) GTEST_SKIP() << "Wine shows a name that is not valid UTF-8 with \"?\"";
  // Latin-1 "été": no UTF-8 reading of these bytes exists.
  const std::string base = "\xE9t\xE9";
  ScopedTree tree({base + ".PAS", base + ".EXE=abc"});
  RunResult run = RunKelvo(tree, Keys("yy"));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, base + ".EXE", 'Y').Summary(3)));
  EXPECT_EQ(tree.Left(), (Names{base + ".PAS"}));
}

TEST(Names, InAUtf8LocaleAFileOrPipeGetsUtf8TextWithTheNamesAsTheyAre) {
  if (UnderWine()) GTEST_SKIP() << "the Windows build writes code page 866 wherever it runs";
  // A Cyrillic name, and messages that read right after nothing but UTF-8
  // decoding: one encoding for the whole text, lines ended by LF.
  ScopedTree tree({"отчёт.c", "отчёт.o=obj", "main.c", "main.o=o"});
  RunOptions options = Keys("yny").WithCompanions({"KELVO.EXT=.c .o\r\n"});
  options.env = {"LC_ALL=C.UTF-8"};
  RunResult run = RunKelvo(tree, options);
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "main.o", 'N').Offer(tree, "отчёт.o", 'Y').Summary(3), true));
  EXPECT_EQ(tree.Left(), (Names{"main.c", "main.o", "отчёт.c"}));
}

TEST(Names, NamesBeyondTheAnsiCodePageAreFoundAndDeletedByTheirOwnName) {
  // Under Wine the ANSI code page is 1252, which holds none of these: read
  // through it, файл.bak would be "????.bak", which no deletion can name,
  // and Ωmega.c would be its best-fit look-alike "Omega.c", whose derived
  // Omega.o would go in place of Ωmega.o. "?" is one character, not one
  // byte. Redirected output keeps the ANSI bytes, "?" for what 1252 lacks.
  // On Windows letters beyond ASCII fold as the file system folds them
  // (*.БАК finds х.бак); POSIX folds a-z only.
  ScopedTree tree({"файл.bak=1", "х.бак=22", "ж.tmp=333", "жж.tmp", "Ωmega.c", "Ωmega.o=4444",
                   "Omega.o", "файл.pas", "файл.exe=55555", "fajl.exe", "中文.cpp",
                   "中文.obj=666666"});
  const Names companions = {"KELVO.TAB=*.bak\r\n*.БАК\r\n?.tmp\r\n",
                            "KELVO.EXT=.c .o\r\n.pas .exe\r\n.cpp .obj\r\n"};
  RunResult run = RunKelvo(tree, Keys("yyyyyyy").WithCompanions(companions));
  Transcript expected = Opening('Y');
  expected.Offer(tree, Redirected("файл.bak"), 'Y');
  if (UnderWine()) expected.Offer(tree, Redirected("х.бак"), 'Y');
  expected.Offer(tree, Redirected("ж.tmp"), 'Y')
      .Offer(tree, Redirected("Ωmega.o"), 'Y')
      .Offer(tree, Redirected("файл.exe"), 'Y')
      .Offer(tree, Redirected("中文.obj"), 'Y')
      .Summary(1 + 3 + 4 + 5 + 6 + (UnderWine() ? 2 : 0));
  EXPECT_TRUE(SameOutput(run, expected));
  Names left = {"Omega.o", "fajl.exe", "Ωmega.c", "жж.tmp", "файл.pas", "中文.cpp"};
  if (!UnderWine()) left.push_back("х.бак");
  std::sort(left.begin(), left.end());
  EXPECT_EQ(tree.Left(), left);

  // The derived file in another case is the one the rule names: on Windows
  // ФАЙЛ.EXE is файл.pas's, and announced as the rule spells it. The
  // directory argument comes in the names' code page.
  ScopedTree cased({"Проекты/файл.pas", "Проекты/ФАЙЛ.EXE=12"});
  run = RunKelvo(cased, Keys("yy").WithArgs({"Проекты"}).WithCompanions(companions));
  expected = Opening('Y');
  if (UnderWine())
    expected.LineWithName("Удаляется файл:  ", Redirected("Проекты\\файл.exe"))
        .Line("Подтверждаете Y/N:  Y");
  EXPECT_TRUE(SameOutput(run, expected.Summary(UnderWine() ? 2 : 0)));
  EXPECT_EQ(cased.Left(), UnderWine()
                              ? (Names{"Проекты/", "Проекты/файл.pas"})
                              : (Names{"Проекты/", "Проекты/ФАЙЛ.EXE", "Проекты/файл.pas"}));

  // A path of fewer than MAX_PATH characters may take more bytes in UTF-8:
  // the directory is still named in full.
  const std::string longName = [] {
    std::string name;
    for (int i = 0; i < 125; ++i) name += "д";
    return name;
  }();
  ScopedTree deep({longName + "/x.bak=1"});
  run = RunKelvo(deep, Keys("yy").WithArgs({"/S"}).WithCompanions(companions));
  EXPECT_TRUE(
      SameOutput(run, Opening('Y').Offer(deep, Redirected(longName) + "/x.bak", 'Y').Summary(1)));
  EXPECT_EQ(deep.Left(), Names{longName + "/"});
}

}  // namespace
}  // namespace e2e
