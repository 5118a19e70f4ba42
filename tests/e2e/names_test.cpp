// File names: matched by their long form only, and written byte for byte.
#include <gtest/gtest.h>

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
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "y.EXE", 'Y').Summary(3)));
  EXPECT_EQ(tree.Left(), (Names{"notes.bakup", "x.exe", "x.pascal", "y.pas"}));
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

}  // namespace
}  // namespace e2e
