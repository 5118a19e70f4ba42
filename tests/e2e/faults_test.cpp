// Faults from outside the program: files and directories that vanish while a
// question waits, a reader that goes away, an interrupt at any moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>

#include "expect.h"
#include "process.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Faults, DerivedFileRemovedWhileItsQuestionWaitsIsReportedAndNotCounted) {
  ScopedTree tree({"A.PAS", "A.EXE=12", "A.TPU=345", "B.PAS", "B.EXE=6789"});
  BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {}), ChildEnvironment(), tree.path());
  kelvo.Send("y");
  ASSERT_TRUE(kelvo.WaitUntilReading());
  std::filesystem::remove(tree.PathOf("A.EXE"));
  kelvo.Send("yyy");
  RunResult run = kelvo.Finish(30);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "A.EXE", 'Y')
                                  .CannotRemove(tree, "A.EXE")
                                  .Offer(tree, "A.TPU", 'Y')
                                  .Offer(tree, "B.EXE", 'Y')
                                  .Summary(7)));
  EXPECT_EQ(tree.Left(), (Names{"A.PAS", "B.PAS"}));
}

}  // namespace
}  // namespace e2e
