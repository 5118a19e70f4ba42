// Kinds of directory entries: which ones a sweep may offer, what deleting
// one touches, and sizes past 32 bits.
#include <gtest/gtest.h>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Entries, HiddenFilesDirectoriesAndLinksToDirectoriesAreNeverOffered) {
  ScopedTree tree({
      ".h.PAS", ".h.EXE", ".old.BAK", ".BAK",          // hidden: a name beginning with "."
      "S.PAS", "S.EXE/", "Z.BAK/", "Q.PAS/", "Q.EXE",  // directories, as derived file and source
      "realdir/", "D.PAS", "D.EXE->realdir", "L.BAK->realdir/",  // links to a directory
  });
  const Names all = tree.Left();
  RunResult run = RunKelvo(tree, Keys("yyyyyyyyyy"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, Opening('Y').Summary(0)));
  EXPECT_EQ(tree.Left(), all);
}

TEST(Entries, FifosAreNeverOffered) {
  if (UnderWine())
    GTEST_SKIP() << "Windows has no fifos: Wine shows a Linux fifo as an ordinary file";
  ScopedTree tree({"F.PAS", "fifo:F.EXE", "fifo:P.BAK"});
  // A fifo offered and opened would also hang the run; RunKelvo's time limit
  // turns that into a failure.
  RunResult run = RunKelvo(tree, Keys("yyy"));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Summary(0)));
  EXPECT_EQ(tree.Left(), (Names{"F.PAS", "fifo:F.EXE", "fifo:P.BAK"}));
}

TEST(Entries, LinkToFileIsRemovedItselfAndItsTargetKept) {
  if (UnderWine())
    GTEST_SKIP() << "Wine shows a Linux link to a file as the file itself, and its DeleteFile "
                    "removes the target: Windows has no such link to test";
  ScopedTree tree({"T.PAS", "target=data", "T.EXE->target", "U.BAK->missing"});
  RunResult run = RunKelvo(tree, Keys("yyy"));
  // Removing a link frees none of its target's bytes.
  EXPECT_TRUE(
      SameOutput(run, Opening('Y').Offer(tree, "T.EXE", 'Y').Offer(tree, "U.BAK", 'Y').Summary(0)));
  EXPECT_EQ(tree.Left(), (Names{"T.PAS", "target"}));
  EXPECT_EQ(tree.Read("target"), "data");
}

TEST(Entries, SizesPast32BitsAreCountedWhole) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  ScopedTree tree({"A.PAS", "sparse:A.EXE=" + std::to_string(3 * kGiB)});
  RunResult run = RunKelvo(tree, Keys("yy"));
  // Exactly the field's ten characters.
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "A.EXE", 'Y').Summary(3 * kGiB)));
  EXPECT_EQ(tree.Left(), (Names{"A.PAS"}));

  // Eleven digits do not fit the field and are written whole.
  tree.Add("sparse:A.EXE=" + std::to_string(6 * kGiB));
  tree.Add("sparse:A.TPU=" + std::to_string(6 * kGiB));
  run = RunKelvo(tree, Keys("yyy"));
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "A.EXE", 'Y').Offer(tree, "A.TPU", 'Y').Summary(12 * kGiB)));
  EXPECT_EQ(tree.Left(), (Names{"A.PAS"}));
}

}  // namespace
}  // namespace e2e
