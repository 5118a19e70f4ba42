// Rule and mask lines that would make a careless sweep delete a file nobody
// named.
#include <gtest/gtest.h>

#include <algorithm>

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
