// Faults from outside the program: files and directories that vanish while a
// question waits, removal denied, names at the edges of what a system allows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "expect.h"
#include "process.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Faults, DerivedFileRemovedOrMadeReadOnlyWhileItsQuestionWaitsIsReportedAndKept) {
  // Removed, or made read-only (under Wine that is the Windows attribute):
  // the file is judged as it is once the answer comes.
  for (bool removed : {true, false}) {
    SCOPED_TRACE(removed ? "removed" : "made read-only");
    ScopedTree tree({"A.PAS", "A.EXE=12", "A.TPU=345", "B.PAS", "B.EXE=6789"});
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {}), ChildEnvironment(), tree.path());
    kelvo.Send("y");
    ASSERT_TRUE(kelvo.WaitUntilReading());
    if (removed)
      std::filesystem::remove(tree.PathOf("A.EXE"));
    else
      ASSERT_EQ(chmod(tree.PathOf("A.EXE").c_str(), 0444), 0);
    kelvo.Send("yyy");
    RunResult run = kelvo.Finish(kRunSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(SameOutput(run, Opening('Y')
                                    .Offer(tree, "A.EXE", 'Y')
                                    .CannotRemove(tree, "A.EXE")
                                    .Offer(tree, "A.TPU", 'Y')
                                    .Offer(tree, "B.EXE", 'Y')
                                    .Summary(7)));
    EXPECT_EQ(tree.Left(), (removed ? Names{"A.PAS", "B.PAS"} : Names{"A.EXE", "A.PAS", "B.PAS"}));
  }
}

// The order a run offers `names` (of files in `tree`) in: Wine lists
// siblings in the order the file system keeps them, so a run that answers
// by position first asks a run that answers nothing.
std::vector<std::string> OfferOrder(const ScopedTree& tree, const std::string& cwd,
                                    std::vector<std::string> names) {
  RunResult dry = RunProcess(CommandFor(TheTarget().kelvo, {"/S", "/N"}), ChildEnvironment(), cwd,
                             std::nullopt, kRunSeconds);
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
    RunResult run = kelvo.Finish(kRunSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.err;

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

TEST(Faults, SubdirectoryChangedOrSwappedBeforeTheDescentEntersItIsCleanedAsItIsThen) {
  // SUB may be listed while the run still cleans T above it. What counts is
  // what SUB holds once the descent enters it: changed in place while a
  // question about T/A.EXE waits, or swapped for another directory while a
  // write into a full pipe blocks the run (no question in between).
  for (bool question : {true, false}) {
    SCOPED_TRACE(question ? "changed while a question waits" : "swapped while a write blocks");
    ScopedTree outer({"T/A.PAS", "T/A.EXE=1", "T/SUB/B.PAS", "T/SUB/B.EXE=old"});
    constexpr int kPairs = 500;
    if (!question)
      for (int i = 0; i < kPairs; ++i)
        for (const char* ext : {".PAS", ".EXE=x"}) outer.Add("T/F" + std::to_string(1000 + i) + ext);
    const std::vector<std::string> args =
        question ? std::vector<std::string>{"/S"} : std::vector<std::string>{"/S", "/N", "/Y"};
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, args), ChildEnvironment(), outer.PathOf("T"),
                            !question);
    if (question) {
      kelvo.Send("y");
      ASSERT_TRUE(kelvo.WaitUntilReading());
      std::filesystem::remove(outer.PathOf("T/SUB/B.EXE"));
    } else {
      ASSERT_TRUE(kelvo.WaitUntilWriting(kRunSeconds));
      std::filesystem::rename(outer.PathOf("T/SUB"), outer.PathOf("OLD"));
    }
    outer.Add("T/SUB/C.PAS");
    outer.Add("T/SUB/C.EXE=new");
    kelvo.Send("yy");
    RunResult run = kelvo.Finish(kRunSeconds);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    if (question) {
      EXPECT_TRUE(SameOutput(run, Opening('Y')
                                      .Offer(outer, "T/A.EXE", 'Y')
                                      .Offer(outer, "T/SUB/C.EXE", 'Y')
                                      .Summary(4)));
    } else {
      const std::string offer = Cp866("Удаляется файл:  ") + Shown(outer, "T/SUB/");
      EXPECT_NE(run.out.find(offer + "C.EXE\r\n"), std::string::npos) << Readable(run.out);
      EXPECT_EQ(run.out.find(offer + "B.EXE"), std::string::npos) << Readable(run.out);
    }
    Names left = outer.Left();
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](auto& n) { return n.ends_with(".EXE"); }),
              question ? 0 : 1);
    if (!question) {
      EXPECT_EQ(std::count(left.begin(), left.end(), "OLD/B.EXE"), 1);
    }
  }
}

TEST(Faults, FilesInADirectoryThatDeniesRemovalAreReportedAndTheRunGoesOn) {
  if (UnderWine() && geteuid() == 0)
    GTEST_SKIP() << "permissions do not stop root, and a Wine prefix serves only the user who "
                    "made it: the unprivileged run is native only";
  // The directory the run starts in is swept whatever its mode; SUB below
  // it, writable, is cleaned.
  ScopedTree tree({"A.PAS", "A.EXE=12", "A.TPU=345", "SUB/B.PAS", "SUB/B.EXE=6789"});
  std::vector<std::string> command = CommandAsUnprivileged(tree, {"/S"});
  ASSERT_EQ(chmod(tree.path().c_str(), 0555), 0);
  RunResult run = RunProcess(command, ChildEnvironment(), tree.path(), "yyyy", kRunSeconds);
  chmod(tree.path().c_str(), 0755);
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "A.EXE", 'Y')
                                  .CannotRemove(tree, "A.EXE")
                                  .Offer(tree, "A.TPU", 'Y')
                                  .CannotRemove(tree, "A.TPU")
                                  .Offer(tree, "SUB/B.EXE", 'Y')
                                  .Summary(4)));
  EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS", "A.TPU", "SUB/", "SUB/B.PAS"}));
}

TEST(Faults, NamesOfTheLongestLengthOnPathsPastPathMaxAreCleaned) {
  if (UnderWine()) GTEST_SKIP() << "Windows keeps a path within MAX_PATH (260) characters";
  // 255 bytes: the longest name; a derived name three bytes longer cannot
  // exist and is never offered. Eighteen such directories make the path
  // to the bottom longer than 4,096 bytes.
  const std::string base(251, 'n');
  const std::string dir(255, 'D');
  constexpr int kDepth = 18;
  ScopedTree tree({base + ".PAS", base + ".EXE=12"});
  int bottom = OpenChain(tree.path(), dir, kDepth, true);
  ASSERT_GE(bottom, 0);
  for (const char* ext : {".PAS", ".EXE"}) {
    int fd = openat(bottom, (base + ext).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    EXPECT_EQ(write(fd, "345", 3), 3);
    close(fd);
  }
  close(bottom);
  std::string down;
  for (int level = 0; level < kDepth; ++level) down += dir + "/";
  ASSERT_GT(tree.PathOf(down).size(), 4096u);

  RunResult run = RunKelvo(tree, RunOptions()
                                     .WithArgs({"/S", "/N", "/Y"})
                                     .WithCompanions({"KELVO.EXT=.PAS .EXE .LONGER\r\n"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(SameOutput(run, Transcript()
                                  .Banner()
                                  .Offer(tree, base + ".EXE", 0)
                                  .Offer(tree, down + base + ".EXE", 0)
                                  .Summary(5)));
  EXPECT_EQ(access(tree.PathOf(base + ".PAS").c_str(), F_OK), 0);
  EXPECT_NE(access(tree.PathOf(base + ".EXE").c_str(), F_OK), 0);
  bottom = OpenChain(tree.path(), dir, kDepth, false);
  ASSERT_GE(bottom, 0);
  EXPECT_EQ(faccessat(bottom, (base + ".PAS").c_str(), F_OK, 0), 0);
  EXPECT_NE(faccessat(bottom, (base + ".EXE").c_str(), F_OK, 0), 0);
  close(bottom);
  RunProcess({"rm", "-rf", tree.PathOf(dir)}, EnvironmentWith({}), "/", std::nullopt, 60);
}

TEST(Faults, NamesWithControlBytesAndNoUtf8ReadingAreDeletedByTheirOwnBytes) {
  if (UnderWine())
    GTEST_SKIP() << "Wine turns control bytes in a name into characters Windows refuses, so "
                    "such a file cannot be deleted there; its bytes are tested as written";
  // c.EXE is what a name cut at its first control byte would find.
  const std::string base = "c\x01\t\n\x1b\x7f\xff\xfe";
  ScopedTree tree({base + ".PAS", base + ".EXE=abc", base + ".TPU=de", "c.EXE=same start"});
  RunResult run = RunKelvo(tree, Keys("").WithArgs({"/N", "/Y"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(SameOutput(run, Transcript()
                                  .Banner()
                                  .Offer(tree, base + ".EXE", 0)
                                  .Offer(tree, base + ".TPU", 0)
                                  .Summary(5)));
  EXPECT_EQ(tree.Left(), (Names{base + ".PAS", "c.EXE"}));
}

}  // namespace
}  // namespace e2e
