// Answers read from standard input: each byte a key, N once input ends.
#include <gtest/gtest.h>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Answers, NothingIsDeletedWithoutAYes) {
  ScopedTree tree({"A.PAS", "A.EXE=exe", "A.TPU=tpu"});
  const Names all = tree.Left();

  // N at the start: no sweep at all, and still the whole summary.
  Transcript refused = Opening('N').Summary(0);
  RunResult run = RunKelvo(tree, Keys("n"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, refused));
  EXPECT_EQ(tree.Left(), all);

  // No input at all answers the start question N.
  run = RunKelvo(tree);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, refused));
  EXPECT_EQ(tree.Left(), all);

  // Input that ends after the first answer: every later question gets N.
  run = RunKelvo(tree, Keys("y"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(
      SameOutput(run, Opening('Y').Offer(tree, "A.EXE", 'N').Offer(tree, "A.TPU", 'N').Summary(0)));
  EXPECT_EQ(tree.Left(), all);
}

TEST(Answers, EachFileTakesItsOwnAnswer) {
  ScopedTree tree({"A.PAS", "A.EXE=exe", "A.TPU=unit"});
  // Keys other than Y and N are passed over without an echo; lower case
  // counts, and is echoed in upper case.
  RunResult run = RunKelvo(tree, Keys("y?x\r\nnY"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(
      SameOutput(run, Opening('Y').Offer(tree, "A.EXE", 'N').Offer(tree, "A.TPU", 'Y').Summary(4)));
  EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
}

}  // namespace
}  // namespace e2e
