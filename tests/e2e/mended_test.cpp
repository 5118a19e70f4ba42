// Rule and mask lines that would make a careless sweep delete a file nobody
// named.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Mended, MaskWithDirectoryPartDeletesTheFileItFound) {
  // SUB\*.BAK finds SUB's X.BAK; the X.BAK of the cleaning directory is
  // another file and stays (/T-free run, rule file of a rule that finds
  // nothing, so only the mask acts). The directory is found in any case.
  std::string mask = UnderWine() ? "SUB\\*.BAK" : "SUB/*.BAK";
  for (const std::string dir : {"SUB", "sub"}) {
    SCOPED_TRACE(dir);
    ScopedTree tree({dir + "/", dir + "/X.BAK=inner", "X.BAK=outer"});
    RunResult run = RunKelvo(
        tree, Keys("yy").WithCompanions({"KELVO.TAB=" + mask + "\r\n", "KELVO.EXT=.NONE .X\r\n"}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(MaskFreed(run.out).ends_with(Transcript().Summary(5).bytes()))
        << Readable(run.out);
    Names left = {dir + "/", "X.BAK"};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(tree.Left(), left);
    EXPECT_EQ(tree.Read("X.BAK"), "outer");
    if (dir != "SUB") continue;
    std::string sub = UnderWine() ? "SUB\\X.BAK" : "SUB/X.BAK";
    EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, sub, 'Y').Summary(5)));
  }

  // Without questions, on a share, the statuses of the cleaning directory's
  // files are read ahead: SUB's X.BAK is judged by its own, never by that
  // of the read-only X.BAK named next. SUB's other files come first, so
  // that the one of the cleaning directory has been read by then.
  const std::string s = UnderWine() ? "\\" : "/";
  constexpr int kBefore = 100;
  Names entries = {"SUB/X.BAK=inner", "ro:X.BAK=outer"};
  for (int i = 0; i < kBefore; ++i) entries.push_back("SUB/A" + std::to_string(1000 + i) + ".BAK=1");
  ScopedTree tree(entries);
  RunResult run = RunKelvo(tree, RunOptions().WithArgs({"/N", "/Y"}).WithCompanions(
                                     {"KELVO.TAB=SUB" + s + "*.BAK\r\n*.BAK\r\n",
                                      "KELVO.EXT=.NONE .X\r\n"}));
  Transcript expected = Transcript().Banner();
  for (int i = 0; i < kBefore; ++i)
    expected.Offer(tree, "SUB" + s + "A" + std::to_string(1000 + i) + ".BAK", 0);
  expected.Offer(tree, "SUB" + s + "X.BAK", 0).Offer(tree, "X.BAK", 0).CannotRemove(tree, "X.BAK");
  EXPECT_TRUE(SameOutput(run, expected.Summary(kBefore + 5)));
  EXPECT_EQ(tree.Left(), (Names{"SUB/", "X.BAK"}));
}

// A directory outside every tree whose absolute name is short enough for a
// mask of 12 characters, removed with what it holds at the end.
struct ShortAbsoluteDirectory {
  std::string path;
  explicit ShortAbsoluteDirectory(const char* format) {
    for (int tries = 0, n = getpid(); tries < 100 && path.empty(); ++tries, ++n) {
      char name[32];
      snprintf(name, sizeof name, format, n % 100);
      if (mkdir(name, 0755) == 0) path = name;
    }
  }
  ~ShortAbsoluteDirectory() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
};

TEST(Mended, MaskOrDerivedWordLeadingOutOfTheDirectoryOrIntoAHiddenOneFindsNothing) {
  // Each run cleans "in". Its directory part may name only plain
  // subdirectories below it: not "..", not an absolute directory (by a drive
  // too, on Windows), not a hidden one, not one reached through a link.
  const std::string s = UnderWine() ? "\\" : "/";
  ShortAbsoluteDirectory elsewhere("/tmp/k%02d");
  ASSERT_FALSE(elsewhere.path.empty());
  std::string absolute = elsewhere.path;
  if (UnderWine()) std::replace(absolute.begin(), absolute.end(), '/', '\\');
  std::vector<Names> cases = {
      {"KELVO.TAB=.." + s + "x" + s + "*\r\n"},
      {"KELVO.TAB=" + absolute + s + "*\r\n"},
      {"KELVO.TAB=.hid" + s + "*\r\n"},
      {"KELVO.TAB=." + s + "*\r\n"},
      {"KELVO.TAB=up" + s + "*\r\n"},
      {"KELVO.EXT=.PAS " + s + ".." + s + ".." + s + "x" + s + "keep.txt\r\n"},
  };
  if (UnderWine()) cases.push_back({"KELVO.TAB=Z:" + absolute + s + "*\r\n"});
  for (const Names& companions : cases) {
    SCOPED_TRACE(companions[0]);
    ScopedTree tree({"in/A.PAS", "in/A/", "in/.hid/x.txt", "in/up->../x", "x/keep.txt"});
    const Names before = tree.Left();
    ASSERT_TRUE(std::filesystem::copy_file(tree.PathOf("x/keep.txt"), elsewhere.path + "/keep.txt",
                                           std::filesystem::copy_options::overwrite_existing));
    RunResult run = RunKelvo(tree, Keys("yy").WithArgs({"in"}).WithCompanions(companions));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameOutput(run, Opening('Y').Summary(0)));
    EXPECT_EQ(tree.Left(), before);
    EXPECT_TRUE(std::filesystem::exists(elsewhere.path + "/keep.txt"));
  }
}

TEST(Mended, CutRuleLineNeverOffersTheBareBaseName) {
  // Longer than 80 characters: the cut takes the closing space, so the last
  // word has no space after it and splits into an empty word, which appended
  // to a base name would name A itself.
  std::string rule = ".PAS";
  while (rule.size() < 70) rule += " .EXE";
  rule += " .TPUXX";  // the 80th character is the X before the last
  ASSERT_EQ(rule.size(), 81u);
  ScopedTree tree({"A.PAS", "A=bare", "A.EXE=exe"});
  RunResult run = RunKelvo(
      tree, Keys("").WithArgs({"/N", "/Y"}).WithCompanions({"KELVO.EXT=" + rule + "\r\n"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(tree.Left(), (Names{"A", "A.PAS"}));
}

}  // namespace
}  // namespace e2e
