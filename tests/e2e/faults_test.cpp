// Faults from outside the program: files and directories that vanish while a
// question waits, removal denied, names at the edges of what a system allows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <thread>

#include "expect.h"
#include "process.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

TEST(Faults, DerivedFileRemovedOrMadeReadOnlyWhileItsQuestionWaitsIsReportedAndKept) {
  // Removed, or made read-only (under Wine that is the Windows attribute):
  // the file is judged as it is once the answer comes. Grown, it is
  // counted at the size it has when it is deleted.
  enum Change { kRemoved, kMadeReadOnly, kGrown };
  for (Change change : {kRemoved, kMadeReadOnly, kGrown}) {
    SCOPED_TRACE(change == kRemoved        ? "removed"
                 : change == kMadeReadOnly ? "made read-only"
                                           : "grown");
    ScopedTree tree({"A.PAS", "A.EXE=12", "A.TPU=345", "B.PAS", "B.EXE=6789"});
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {}), ChildEnvironment(), tree.path());
    kelvo.Send("y");
    ASSERT_TRUE(kelvo.WaitUntilReading());
    if (change == kRemoved)
      std::filesystem::remove(tree.PathOf("A.EXE"));
    else if (change == kMadeReadOnly)
      ASSERT_EQ(chmod(tree.PathOf("A.EXE").c_str(), 0444), 0);
    else
      tree.Add("A.EXE=1234567890");
    kelvo.Send("yyy");
    RunResult run = kelvo.Finish(kRunSeconds);
    Transcript expected = Opening('Y');
    expected.Offer(tree, "A.EXE", 'Y');
    if (change != kGrown) expected.CannotRemove(tree, "A.EXE");
    expected.Offer(tree, "A.TPU", 'Y').Offer(tree, "B.EXE", 'Y');
    EXPECT_EQ(run.exitCode, change == kGrown ? 0 : 2) << run.err;
    EXPECT_TRUE(SameOutput(run, expected.Summary(change == kGrown ? 17 : 7)));
    EXPECT_EQ(tree.Left(), (change == kMadeReadOnly ? Names{"A.EXE", "A.PAS", "B.PAS"}
                                                    : Names{"A.PAS", "B.PAS"}));
  }
}

TEST(Faults, DirectoryOfAMaskSwappedForALinkOrAMountWhileTheRunWaitsIsNotFollowed) {
  // SUB/*.BAK finds SUB's files; while a question about the first waits, or
  // while a write into a full pipe blocks a run under /N /Y (nothing read
  // since the search, so nothing known of SUB is read again above the
  // deletion), SUB is moved away and a link to VICTIM put in its place, or
  // VICTIM is mounted on SUB; or, from then on, SUB and a link to VICTIM
  // trade places again and again, so that some change lands between a
  // check of SUB and the deletion below it. No file of VICTIM's may go.
  enum Swap { kLink, kMount, kLinkBackAndForth };
  struct Case {
    std::string what;
    bool question;
    Swap swap;
  };
  const std::string s = UnderWine() ? "\\" : "/";
  for (const Case& c : {Case{"a link while a question waits", true, kLink},
                        Case{"a link while a write blocks", false, kLink},
                        Case{"a mount point while a write blocks", false, kMount},
                        Case{"a link back and forth during the deletions", false,
                             kLinkBackAndForth}}) {
    SCOPED_TRACE(c.what);
    if (c.swap == kMount && UnderWine()) {
      std::cout << "Skipped \"" << c.what << "\": Wine makes no volume mount point\n";
      continue;
    }
    if (c.swap == kLinkBackAndForth && UnderWine()) {
      std::cout << "Skipped \"" << c.what << "\": kernel32 deletes a file by its path alone, "
                   "with no directory handle to delete it through\n";
      continue;
    }
    // Enough announcements to fill the pipe well before the last deletion.
    const int files = c.question ? 1 : c.swap == kLinkBackAndForth ? 1000 : 200;
    Names entries;
    for (int i = 0; i < files; ++i)
      for (const std::string dir : {"SUB", "VICTIM"})
        entries.push_back(dir + "/X" + std::to_string(1000 + i) + ".BAK=" + dir);
    ScopedTree tree(entries);
    auto victims = [&tree] {
      Names left = tree.Left();
      std::erase_if(left, [](const std::string& name) { return !name.starts_with("VICTIM/"); });
      return left;
    };
    const Names victim = victims();
    ScopedTree home({"KELVO.TAB=SUB" + s + "*.BAK\r\n", "KELVO.EXT=.NONE .X\r\n"});
    const std::string program =
        home.PathOf(std::filesystem::path(TheTarget().kelvo).filename().string());
    std::filesystem::copy_file(TheTarget().kelvo, program);
    std::vector<std::string> command =
        CommandFor(program, c.question ? std::vector<std::string>{} : Names{"/N", "/Y"});
    if (c.swap == kMount) {
      RunResult allowed = RunProcess({"unshare", "-m", "true"}, EnvironmentWith({}), tree.path(),
                                     std::nullopt, kRunSeconds);
      if (allowed.exitCode != 0) {
        std::cout << "Skipped \"" << c.what << "\": no private mount namespace here: "
                  << allowed.err << "\n";
        continue;
      }
      // The mount is made in the run's own namespace, and ends with it.
      command.insert(command.begin(), {"unshare", "-m"});
    }
    BackgroundProcess kelvo(command, ChildEnvironment(), tree.path(), !c.question);
    if (c.question) {
      kelvo.Send("y");
      ASSERT_TRUE(kelvo.WaitUntilReading());
    } else {
      ASSERT_TRUE(kelvo.WaitUntilWriting(kRunSeconds));
    }
    std::atomic<bool> swapping = true;
    std::thread swapper;
    if (c.swap == kLink) {
      ASSERT_EQ(rename(tree.PathOf("SUB").c_str(), tree.PathOf("MOVED").c_str()), 0);
      ASSERT_EQ(symlink("VICTIM", tree.PathOf("SUB").c_str()), 0);
    } else if (c.swap == kLinkBackAndForth) {
      ASSERT_EQ(symlink("VICTIM", tree.PathOf("LINK").c_str()), 0);
      swapper = std::thread([&] {
        for (int n = 0; swapping || n % 2 != 0; ++n)
          renameat2(AT_FDCWD, tree.PathOf("SUB").c_str(), AT_FDCWD, tree.PathOf("LINK").c_str(),
                    RENAME_EXCHANGE);
      });
    } else {
      RunResult mounted = RunProcess({"nsenter", "-t", std::to_string(kelvo.pid()), "-m", "mount",
                                      "--bind", tree.PathOf("VICTIM"), tree.PathOf("SUB")},
                                     EnvironmentWith({}), "/", std::nullopt, kRunSeconds);
      ASSERT_EQ(mounted.exitCode, 0) << mounted.err;
    }
    kelvo.Send("y");
    RunResult run = kelvo.Finish(kRunSeconds);
    swapping = false;
    if (swapper.joinable()) swapper.join();
    // Which deletions a change back and forth meets is the scheduler's.
    if (c.swap != kLinkBackAndForth) {
      EXPECT_EQ(run.exitCode, 2) << run.err;
    }
    EXPECT_EQ(victims(), victim);
    if (!c.question) continue;
    EXPECT_TRUE(SameOutput(run, Opening('Y')
                                    .Offer(tree, "SUB" + s + "X1000.BAK", 'Y')
                                    .CannotRemove(tree, "SUB" + s + "X1000.BAK")
                                    .Summary(0)));
    EXPECT_EQ(tree.Left(), (Names{"MOVED/", "MOVED/X1000.BAK", "SUB->VICTIM", "VICTIM/",
                                  "VICTIM/X1000.BAK"}));
  }
}

TEST(Faults, OutputThatCannotBeWrittenStopsTheRunBeforeAnyDeletion) {
  // No announcement reaches anyone, so no file may go: a full disk, and no
  // standard output at all. The reason goes to standard error.
  for (const std::string redirect : {">/dev/full", ">&-"}) {
    SCOPED_TRACE(redirect);
    ScopedTree tree({"A.PAS", "A.EXE=12", "B.BAK=3"});
    const Names all = tree.Left();
    std::vector<std::string> command = {"bash", "-c", "\"$@\" " + redirect, "bash"};
    for (const std::string& word : CommandFor(TheTarget().kelvo, {"/N", "/Y"}))
      command.push_back(word);
    RunResult run = RunProcess(command, ChildEnvironment(), tree.path(), std::nullopt, kRunSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(Cp866("Не могу записать вывод, удаление остановлено.") + "\r\n"),
              std::string::npos)
        << Readable(run.err);
    EXPECT_EQ(tree.Left(), all);
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

// Runs `command` in `cwd` up to its question number `asked` (from 0, after
// the start question), lets `change` act while that question waits, answers
// it `answer`, and every other question Y.
RunResult RunChangedWhileAsked(const std::vector<std::string>& command, const std::string& cwd,
                               size_t asked, char answer, const std::function<void()>& change) {
  BackgroundProcess kelvo(command, ChildEnvironment(), cwd);
  kelvo.Send(std::string(1 + asked, 'y'));
  if (!kelvo.WaitUntilReading()) ADD_FAILURE() << "no question waits";
  change();
  kelvo.Send(std::string(1, answer) + "yyyyy");
  return kelvo.Finish(kRunSeconds);
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

    RunResult run = RunChangedWhileAsked(CommandFor(TheTarget().kelvo, {"/S"}), cwd, asked, 'Y',
                                         [&] { std::filesystem::remove_all(outer.PathOf("T/SUB")); });
    EXPECT_EQ(run.exitCode, 2) << run.err;

    // The question is answered into the void; the files listed beside it
    // are still offered and deleted nowhere, what lay below it is found no
    // more, and the rest is cleaned wherever it comes.
    Transcript expected = Opening('Y');
    int64_t removed = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      const std::string& name = order[i];
      bool besideIt = name.substr(0, name.rfind('/')) == at.substr(0, at.rfind('/'));
      if (name == at || (i > asked && besideIt)) {
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

RunResult AsNobody(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return RunProcess(argv, EnvironmentWith({}), "/", std::nullopt, kRunSeconds);
}

TEST(Faults, DirectoryMovedWhileTheDescentIsInsideItLeadsItNowhereOutsideTheTree) {
  // While a question waits below it, a directory of the tree is moved out,
  // or its parent is made unsearchable and a link put in the parent's place.
  // Beside the tree lies a directory named like a later subdirectory, and in
  // it a KEEP.BAK that a descent which climbed back by name would delete.
  struct Case {
    std::string what;
    Names entries;
    std::string cwd;
    Names derived;  // what the run offers, in some order; `at` answered N
    std::string at;
    std::string lost;  // the directory that cannot be climbed back to
    bool kelvoUnprivileged = false;
    std::function<void(const ScopedTree&)> prepare, change;
  };
  auto moveTo = [](std::string from, std::string to) {
    return [=](const ScopedTree& tree) {
      ASSERT_EQ(rename(tree.PathOf(from).c_str(), tree.PathOf(to).c_str()), 0);
    };
  };
  std::string kLevels;
  for (int i = 0; i < 40; ++i) kLevels += "L/";
  std::vector<Case> cases = {
      {"moved beside the tree", {"T/A/X.BAK", "T/Z/Z.BAK", "VICTIM/Z/KEEP.BAK=keep"}, "T",
       {"T/A/X.BAK", "T/Z/Z.BAK"}, "T/A/X.BAK", "", false, {}, moveTo("T/A", "VICTIM/A")},
      // Deep enough that the parent of the directory moved is held by no
      // descriptor when the descent climbs back to it.
      {"moved beside the tree from far above the question",
       {"T/P/A/" + kLevels + "X.BAK", "T/P/Z/Z.BAK", "VICTIM/Z/KEEP.BAK=keep"}, "T",
       {"T/P/A/" + kLevels + "X.BAK", "T/P/Z/Z.BAK"}, "T/P/A/" + kLevels + "X.BAK", "", false, {},
       moveTo("T/P/A", "VICTIM/A")},
      // The same with two levels between the top and the directory moved,
      // neither held: each step down by name is proven to be its own level.
      {"moved beside the tree from two levels below the top",
       {"T/P/Q/A/" + kLevels + "X.BAK", "T/P/Q/Z/Z.BAK", "VICTIM/Z/KEEP.BAK=keep"}, "T",
       {"T/P/Q/A/" + kLevels + "X.BAK", "T/P/Q/Z/Z.BAK"}, "T/P/Q/A/" + kLevels + "X.BAK", "", false,
       {}, moveTo("T/P/Q/A", "VICTIM/A")},
      // ... or where a link stands in the way down by name: not gone, but
      // a directory that cannot be reached, and whose search ends there. A
      // holds a Z of its own, as P does: P's search carried on where the
      // process stands would enter it.
      {"moved beside the tree, a link in its parent's place",
       {"T/P/A/" + kLevels + "X.BAK", "T/P/A/Z/", "T/P/Z/Z.BAK", "VICTIM/Z/KEEP.BAK=keep"}, "T",
       {"T/P/A/" + kLevels + "X.BAK", "T/P/Z/Z.BAK"}, "T/P/A/" + kLevels + "X.BAK", "T/P", false,
       {},
       [](const ScopedTree& tree) {
         ASSERT_EQ(rename(tree.PathOf("T/P/A").c_str(), tree.PathOf("VICTIM/A").c_str()), 0);
         ASSERT_EQ(rename(tree.PathOf("T/P").c_str(), tree.PathOf("T/P.OLD").c_str()), 0);
         ASSERT_EQ(symlink(tree.PathOf("VICTIM").c_str(), tree.PathOf("T/P").c_str()), 0);
       }},
      {"parent unsearchable, a link in its place",
       {"T/P/C/X.BAK", "T/P/D/Y.BAK", "VICTIM/D/KEEP.BAK=keep"}, "T",
       {"T/P/C/X.BAK", "T/P/D/Y.BAK"}, "T/P/C/X.BAK", "T/P", true, {},
       [](const ScopedTree& tree) {
         ASSERT_EQ(chmod(tree.PathOf("T/P").c_str(), 0), 0);
         ASSERT_EQ(rename(tree.PathOf("T/P").c_str(), tree.PathOf("T/P.OLD").c_str()), 0);
         ASSERT_EQ(symlink(tree.PathOf("VICTIM").c_str(), tree.PathOf("T/P").c_str()), 0);
       }},
      // Root sweeps; nobody owns U and moves B into a sticky directory where
      // another user keeps a directory of his own.
      {"moved by its owner during a sweep by root",
       {"PROJ/U/A/B/C/X.BAK", "PROJ/U/A/M/M.BAK", "TMP/M/KEEP.BAK=keep"}, "PROJ",
       {"PROJ/U/A/B/C/X.BAK", "PROJ/U/A/M/M.BAK"}, "PROJ/U/A/B/C/X.BAK", "", false,
       [](const ScopedTree& tree) {
         ASSERT_EQ(chmod(tree.path().c_str(), 0755), 0);
         ASSERT_EQ(chmod(tree.PathOf("TMP").c_str(), 01777), 0);
         ASSERT_EQ(chown(tree.PathOf("TMP/M").c_str(), 1, 1), 0);
         ASSERT_EQ(chmod(tree.PathOf("TMP/M").c_str(), 0700), 0);
         RunResult given = RunProcess({"chown", "-R", "65534:65534", tree.PathOf("PROJ/U")},
                                      EnvironmentWith({}), "/", std::nullopt, kRunSeconds);
         ASSERT_EQ(given.exitCode, 0) << given.err;
       },
       [](const ScopedTree& tree) {
         RunResult moved = AsNobody({"mv", tree.PathOf("PROJ/U/A/B"), tree.PathOf("TMP/B")});
         ASSERT_EQ(moved.exitCode, 0) << moved.err;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.prepare && geteuid() != 0) {
      std::cout << "Skipped \"" << c.what << "\": only root can give the tree to another user\n";
      continue;
    }
    ScopedTree outer(c.entries);
    if (c.prepare) c.prepare(outer);
    const std::string cwd = outer.PathOf(c.cwd);
    std::vector<std::string> order = OfferOrder(outer, cwd, c.derived);
    size_t asked = std::find(order.begin(), order.end(), c.at) - order.begin();
    // Under Wine the run is root's whatever the case: the prefix is.
    std::vector<std::string> command = c.kelvoUnprivileged && !UnderWine()
                                           ? CommandAsUnprivileged(outer, {"/S"})
                                           : CommandFor(TheTarget().kelvo, {"/S"});
    RunResult run =
        RunChangedWhileAsked(command, cwd, asked, 'N', [&] { c.change(outer); });
    EXPECT_EQ(run.exitCode, c.lost.empty() ? 0 : 2) << run.err;
    Transcript expected = Opening('Y');
    for (size_t i = 0; i < order.size(); ++i) {
      if (i == asked) {
        expected.Offer(outer, order[i], 'N');
        if (!c.lost.empty())
          expected.LineWithName("Не могу сменить каталог:", Shown(outer, c.lost) + ".");
      } else if (i < asked || c.lost.empty() || !order[i].starts_with(c.lost + "/")) {
        expected.Offer(outer, order[i], 'Y');
      }
    }
    EXPECT_TRUE(SameOutput(run, expected.Summary(0)));
    for (const std::string& entry : c.entries) {
      const std::string keep = entry.substr(0, entry.size() - 5);
      if (entry.ends_with("=keep")) {
        EXPECT_EQ(access(outer.PathOf(keep).c_str(), F_OK), 0) << keep << " was deleted";
      }
    }
  }
}

TEST(Faults, SubdirectoryChangedOrSwappedBeforeTheDescentEntersItIsCleanedAsItIsThen) {
  // SUB may be listed while the run still cleans T above it. What counts is
  // what SUB holds once the descent enters it: changed in place while a
  // question about T/A.EXE waits, or swapped for another directory while a
  // write into a full pipe blocks the run (no question in between), or
  // swapped for a link to VICTIM there, which is not followed.
  enum Change { kChanged, kSwapped, kLinked };
  for (Change change : {kChanged, kSwapped, kLinked}) {
    const bool question = change == kChanged;
    SCOPED_TRACE(question ? "changed while a question waits"
                 : change == kSwapped ? "swapped while a write blocks"
                                      : "swapped for a link while a write blocks");
    ScopedTree outer({"T/A.PAS", "T/A.EXE=1", "T/SUB/B.PAS", "T/SUB/B.EXE=old"});
    if (change == kLinked) {
      outer.Add("VICTIM/V.PAS");
      outer.Add("VICTIM/V.EXE=victim");
    }
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
      if (change == kLinked) {
        ASSERT_EQ(symlink(outer.PathOf("VICTIM").c_str(), outer.PathOf("T/SUB").c_str()), 0);
      }
    }
    if (change != kLinked) {
      outer.Add("T/SUB/C.PAS");
      outer.Add("T/SUB/C.EXE=new");
    }
    kelvo.Send("yy");
    RunResult run = kelvo.Finish(kRunSeconds);
    if (change == kLinked) {
      EXPECT_EQ(access(outer.PathOf("VICTIM/V.EXE").c_str(), F_OK), 0);
      EXPECT_EQ(run.out.find(Shown(outer, "T/SUB/")), std::string::npos) << Readable(run.out);
      continue;
    }
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

TEST(Faults, WhatChangesWhileAWriteBlocksIsDecidedAsItIsThen) {
  // The run blocks writing into a full pipe while it cleans T; by then what
  // lies ahead of it (T's next files, the subdirectory SUB) may have been
  // read, on a share ahead of the descent. Changed meanwhile, each is judged
  // as it is when its turn comes: a file made read-only is kept and said
  // so, a directory made read-only is not entered, a derived file whose
  // source went is no longer derived.
  struct Case {
    const char* change;
    std::function<void(ScopedTree&)> make;
    bool filesStay;    // every T/F*.EXE still there when the write blocked stays
    bool derivedStays;  // T/SUB/B.EXE stays
    int exitCode;
  };
  const Case cases[] = {
      {"files ahead made read-only",
       [](ScopedTree& t) {
         for (const std::string& name : t.Left())
           if (name.starts_with("T/F") && name.ends_with(".EXE"))
             std::filesystem::permissions(t.PathOf(name), std::filesystem::perms::owner_write,
                                          std::filesystem::perm_options::remove);
       },
       true, false, 2},
      {"subdirectory made read-only",
       [](ScopedTree& t) {
         std::filesystem::permissions(t.PathOf("T/SUB"), std::filesystem::perms::owner_write,
                                      std::filesystem::perm_options::remove);
       },
       false, true, 0},
      {"source in the subdirectory removed",
       [](ScopedTree& t) { std::filesystem::remove(t.PathOf("T/SUB/B.PAS")); }, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    if (UnderWine() && std::string_view(c.change) == "subdirectory made read-only")
      continue;  // Wine shows no read-only bit on a directory
    ScopedTree outer({"T/A.PAS", "T/A.EXE=1", "T/SUB/B.PAS", "T/SUB/B.EXE=old"});
    for (int i = 0; i < 500; ++i)
      for (const char* ext : {".PAS", ".EXE=x"}) outer.Add("T/F" + std::to_string(1000 + i) + ext);
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S", "/N", "/Y"}), ChildEnvironment(),
                            outer.PathOf("T"), true);
    ASSERT_TRUE(kelvo.WaitUntilWriting(kRunSeconds));
    // On a share the deletions announced before the write may still be in
    // flight on the workers: the files there are those left once they end,
    // told by half a second without change (a loaded machine may hold a
    // worker back for a while).
    Names before = outer.Left();
    for (int still = 0; still < 5;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Names now = outer.Left();
      still = now == before ? still + 1 : 0;
      before = std::move(now);
    }
    c.make(outer);
    RunResult run = kelvo.Finish(kRunSeconds);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    Names left = outer.Left();
    auto there = [&left](const std::string& name) {
      return std::find(left.begin(), left.end(), name) != left.end();
    };
    for (const std::string& name : before) {
      if (name.starts_with("T/F") && name.ends_with(".EXE")) {
        EXPECT_EQ(there(name), c.filesStay) << name;
      }
    }
    EXPECT_EQ(there("T/SUB/B.EXE"), c.derivedStays);
    std::filesystem::permissions(outer.PathOf("T/SUB"), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
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
