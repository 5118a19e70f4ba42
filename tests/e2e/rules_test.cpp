// The built-in rules at work in one directory: what is offered, in which
// order, what goes, and the bytes written about it.
#include <gtest/gtest.h>

#include <algorithm>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(BuiltInRules, DeleteDerivedFilesAndBackupsOnly) {
  ScopedTree tree({"A.PAS=program a;", "A.EXE=MZ-image", "A.TPU=unit", "B.BAK=old", "C.EXE=MZ"});
  RunResult run = RunKelvo(tree, Keys("yyyy"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "A.EXE", 'Y')
                                  .Offer(tree, "A.TPU", 'Y')
                                  .Offer(tree, "B.BAK", 'Y')
                                  .Summary(8 + 4 + 3)));
  // C.EXE has no source beside it.
  EXPECT_EQ(tree.Left(), (Names{"A.PAS", "C.EXE"}));
}

TEST(BuiltInRules, FortranRulesApplyInTheirOrder) {
  // The .FOR made from F.FTN goes before the .FOR rule looks for sources, so
  // only G.FOR, a source of its own, gets its object file deleted by it.
  ScopedTree tree({"F.FTN", "F.FOR=for", "F.OBJ=o", "G.FOR", "G.EXE=exe", "G.OBJ=obj"});
  RunResult run = RunKelvo(tree, Keys("yyyyyy"));
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "F.FOR", 'Y')
                                  .Offer(tree, "F.OBJ", 'Y')
                                  .Offer(tree, "G.EXE", 'Y')
                                  .Offer(tree, "G.OBJ", 'Y')
                                  .Summary(3 + 1 + 3 + 3)));
  EXPECT_EQ(tree.Left(), (Names{"F.FTN", "G.FOR"}));

  // A source an earlier rule deleted is no source for a later one: P.O stays,
  // and the file deleted after it counts its own size, not P.O's.
  ScopedTree chain({"P.Y", "P.C=c", "P.O=object of p", "Q.C", "Q.O=q"});
  run = RunKelvo(chain,
                 Keys("").WithArgs({"/N", "/Y"}).WithCompanions({"KELVO.EXT=.Y .C\r\n.C .O\r\n"}));
  EXPECT_TRUE(SameOutput(
      run, Transcript().Banner().Offer(chain, "P.C", 0).Offer(chain, "Q.O", 0).Summary(2)));
  EXPECT_EQ(chain.Left(), (Names{"P.O", "P.Y", "Q.C"}));
}

TEST(BuiltInRules, BackupIsOfferedOnceThoughItIsItsOwnSource) {
  ScopedTree tree({"X.BAK=backup", "X.PAS"});
  RunResult run = RunKelvo(tree, Keys("yyy"));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "X.BAK", 'Y').Summary(6)));
  EXPECT_EQ(tree.Left(), (Names{"X.PAS"}));

  // Kept on N, it still is not offered a second time.
  tree.Add("X.BAK=backup");
  run = RunKelvo(tree, Keys("ynyy"));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "X.BAK", 'N').Summary(0)));
  EXPECT_EQ(tree.Left(), (Names{"X.BAK", "X.PAS"}));
}

TEST(BuiltInRules, CandidateInOtherCaseIsDeletedAndOneOfExactlyItsNameIsPreferred) {
  // The file deleted is the one the file system finds for the source's base
  // with the rule's extension. Windows shows that name as built (both
  // spell one file there); on Linux a name shown must be a file's name.
  ScopedTree tree({"prog.pas", "PROG.EXE=12345"});
  RunResult run = RunKelvo(tree, Keys("yy"));
  const char* shown = UnderWine() ? "prog.EXE" : "PROG.EXE";
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, shown, 'Y').Summary(5)));
  EXPECT_EQ(tree.Left(), (Names{"prog.pas"}));

  if (UnderWine()) return;
  // Where names differing in case coexist, the one named exactly is found;
  // it sorts between the others, so neither the first nor the last found
  // without regard to case is it. So too among many files of its extension,
  // where names are looked up another way.
  for (int many : {0, 200}) {
    Names entries = {"Prog.PAS", "PROG.EXE=upper", "Prog.EXE=exact!", "prog.EXE=lower"};
    Names left = {"PROG.EXE", "Prog.PAS", "prog.EXE"};
    for (int i = 10; i < 10 + many; ++i) {
      entries.push_back("lib" + std::to_string(i) + ".EXE");
      left.push_back(entries.back());
    }
    ScopedTree both(entries);
    run = RunKelvo(both, Keys("yy"));
    EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(both, "Prog.EXE", 'Y').Summary(6)));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(both.Left(), left);
  }
}

TEST(BuiltInRules, ReadOnlyFileIsReportedAndNotCounted) {
  ScopedTree tree({"A.PAS", "ro:A.EXE=12345", "A.TPU=xy"});
  RunResult run = RunKelvo(tree, Keys("yyy"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "A.EXE", 'Y')
                                  .CannotRemove(tree, "A.EXE")
                                  .Offer(tree, "A.TPU", 'Y')
                                  .Summary(2)));
  EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
  EXPECT_EQ(tree.Read("A.EXE"), "12345");
}

}  // namespace
}  // namespace e2e
