// Faults from outside the program: files and directories that vanish while a
// question waits, a reader that goes away, an interrupt at any moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <map>

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

// The order a run offers `names` (of files in `tree`) in: Wine lists
// siblings in the order the file system keeps them, so a run that answers
// by position first asks a run that answers nothing.
std::vector<std::string> OfferOrder(const ScopedTree& tree, const std::string& cwd,
                                    std::vector<std::string> names) {
  RunResult dry = RunProcess(CommandFor(TheTarget().kelvo, {"/S", "/N"}), ChildEnvironment(), cwd,
                             std::nullopt, 30);
  auto at = [&](const std::string& name) {
    return dry.out.find(Cp866("Удаляется файл:  ") + Shown(tree, name) + "\r\n");
  };
  for (const std::string& name : names)
    EXPECT_NE(at(name), std::string::npos) << name << " not offered:\n" << Readable(dry.out);
  std::sort(names.begin(), names.end(), [&](auto& a, auto& b) { return at(a) < at(b); });
  return names;
}

TEST(Faults, DirectoryRemovedWhileTheDescentIsInsideItIsLeftAndTheRunGoesOn) {
  // The run cleans T; SUB goes while a question about a file in SUB, or in
  // INNER below it, waits. Beside T lie files that a descent gone one level
  // too far up would delete, and in T a B.TPU that SUB's sweep, were it
  // carried on in the wrong directory, would take for its B.PAS's.
  const std::map<std::string, int64_t> derived = {{"T/A.EXE", 1},
                                                  {"T/SUB/B.EXE", 2},
                                                  {"T/SUB/B.TPU", 3},
                                                  {"T/SUB/INNER/C.EXE", 4},
                                                  {"T/ZED/D.EXE", 5}};
  for (const std::string at : {"T/SUB/B.EXE", "T/SUB/INNER/C.EXE"}) {
    SCOPED_TRACE("removed at the question about " + at);
    ScopedTree outer({"O.PAS", "O.EXE=out", "ZED/D.PAS", "ZED/D.EXE=out", "B.TPU=out", "T/A.PAS",
                      "T/B.TPU=top", "T/SUB/B.PAS", "T/SUB/INNER/C.PAS", "T/ZED/D.PAS"});
    for (const auto& [name, size] : derived) outer.Add(name + "=" + std::string(size, 'x'));
    const std::string cwd = outer.PathOf("T");
    std::vector<std::string> order;
    for (const auto& entry : derived) order.push_back(entry.first);
    order = OfferOrder(outer, cwd, order);
    size_t asked = std::find(order.begin(), order.end(), at) - order.begin();

    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S"}), ChildEnvironment(), cwd);
    kelvo.Send(std::string(1 + asked, 'y'));
    ASSERT_TRUE(kelvo.WaitUntilReading());
    std::filesystem::remove_all(outer.PathOf("T/SUB"));
    kelvo.Send("yyyyy");
    RunResult run = kelvo.Finish(30);
    EXPECT_EQ(run.exitCode, 0) << run.err;

    // The question is answered into the void; what SUB held after it is
    // found no more, and the rest is cleaned wherever it comes.
    Transcript expected = Opening('Y');
    int64_t removed = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      const std::string& name = order[i];
      if (name == at) {
        expected.Offer(outer, name, 'Y').CannotRemove(outer, name);
      } else if (!name.starts_with("T/SUB/") || i < asked) {
        expected.Offer(outer, name, 'Y');
        removed += derived.at(name);
      }
    }
    EXPECT_TRUE(SameOutput(run, expected.Summary(removed)));
    EXPECT_EQ(outer.Left(), (Names{"B.TPU", "O.EXE", "O.PAS", "T/", "T/A.PAS", "T/B.TPU", "T/ZED/",
                                   "T/ZED/D.PAS", "ZED/", "ZED/D.EXE", "ZED/D.PAS"}));
  }
}

}  // namespace
}  // namespace e2e
