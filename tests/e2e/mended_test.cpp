// Rule and mask lines that would make a careless sweep delete a file nobody
// named.
#include <gtest/gtest.h>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Mended, MaskWithDirectoryPartDeletesTheFileItFound) {
  // SUB\*.BAK finds SUB's X.BAK; the X.BAK of the cleaning directory is
  // another file and stays (/T-free run, rule file of a rule that finds
  // nothing, so only the mask acts).
  ScopedTree tree({"SUB/", "SUB/X.BAK=inner", "X.BAK=outer"});
  std::string mask = UnderWine() ? "SUB\\*.BAK" : "SUB/*.BAK";
  RunResult run = RunKelvo(
      tree, Keys("yy").WithCompanions({"KELVO.TAB=" + mask + "\r\n", "KELVO.EXT=.NONE .X\r\n"}));
  EXPECT_EQ(run.exitCode, 0);
  std::string sub = UnderWine() ? "SUB\\X.BAK" : "SUB/X.BAK";
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, sub, 'Y').Summary(5)));
  EXPECT_EQ(tree.Left(), (Names{"SUB/", "X.BAK"}));
  EXPECT_EQ(tree.Read("X.BAK"), "outer");
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
