// Cleaning a whole tree with /S: the order directories are swept in, the
// full paths shown, the directories never entered, and trees too deep for
// a descriptor or a stack frame per level.
//
// A drive root, where no separator may be doubled, would need a run in "/";
// JoinPath's unit tests cover it instead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "expect.h"
#include "runner.h"
#include "terminal.h"
#include "tree.h"

namespace e2e {
namespace {

constexpr std::string_view kCannotEnter = "Не могу сменить каталог:";

RunOptions Recursive(std::string keys) { return Keys(std::move(keys)).WithArgs({"/S"}); }

TEST(Descent, EachDirectoryIsCleanedBeforeItsSubdirectoriesWithFullPaths) {
  // Natively siblings come in name order, case folded: "src" before "TOOLS".
  ScopedTree tree({"A.PAS", "A.EXE=1", "WORK/W.PAS", "WORK/W.TPU=22", "WORK/src/S.PAS",
                   "WORK/src/S.EXE=333", "WORK/src/OLD/O.PAS", "WORK/src/OLD/O.BAK=4444",
                   "WORK/TOOLS/T.PAS", "WORK/TOOLS/T.EXE=55555"});
  RunResult run = RunKelvo(tree, Recursive("yyyyyy"));
  EXPECT_EQ(run.exitCode, 0);
  auto expected = [&](bool srcFirst) {
    Transcript t = Opening('Y').Offer(tree, "A.EXE", 'Y').Offer(tree, "WORK/W.TPU", 'Y');
    auto src = [&] { t.Offer(tree, "WORK/src/S.EXE", 'Y').Offer(tree, "WORK/src/OLD/O.BAK", 'Y'); };
    auto tools = [&] { t.Offer(tree, "WORK/TOOLS/T.EXE", 'Y'); };
    if (srcFirst) {
      src();
      tools();
    } else {
      tools();
      src();
    }
    return t.Summary(15);
  };
  // Wine lists siblings in the order its file system keeps them.
  bool srcFirst = !UnderWine() || MaskFreed(run.out) != expected(false).bytes();
  EXPECT_TRUE(SameOutput(run, expected(srcFirst)));
  EXPECT_EQ(tree.Left(),
            (Names{"A.PAS", "WORK/", "WORK/TOOLS/", "WORK/TOOLS/T.PAS", "WORK/W.PAS", "WORK/src/",
                   "WORK/src/OLD/", "WORK/src/OLD/O.PAS", "WORK/src/S.PAS"}));
}

TEST(Descent, DotReadOnlyAndLinkedDirectoriesAreNeverEntered) {
  ScopedTree outside({"L.PAS", "L.EXE=out"});
  ScopedTree tree({"A.PAS", "A.EXE=12", ".cache/C.PAS", ".cache/C.EXE", "RO/R.PAS", "RO/R.EXE",
                   "ro:RO/", "SUB/S.PAS", "SUB/S.EXE=345", "SUB/UP->..", "OUT->" + outside.path()});
  const Names outsideBefore = outside.Left();
  // The link back up would offer A.EXE again, and again, were it followed.
  RunResult run = RunKelvo(tree, Recursive("yyyyyyyy"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "A.EXE", 'Y').Offer(tree, "SUB/S.EXE", 'Y').Summary(5)));
  EXPECT_EQ(tree.Left(),
            (Names{".cache/", ".cache/C.EXE", ".cache/C.PAS", "A.PAS", "OUT->" + outside.path(),
                   "RO/", "RO/R.EXE", "RO/R.PAS", "SUB/", "SUB/S.PAS", "SUB/UP->.."}));
  EXPECT_EQ(outside.Left(), outsideBefore);
}

TEST(Descent, NamesEndingInADotOrASpaceAreTakenAsTheyAreListed) {
  // The Windows calls drop the dots and spaces that end a name: " .." would
  // be the directory itself, entered again and again until memory ran out,
  // "x." would be "x", its files offered by names that lead to x's, and
  // deleting "keep." would delete "keep". Each is cleaned as itself, on
  // both builds.
  ScopedTree tree({"a.bak=1", " ../a.bak=22", " ../ ../n.bak=333", "x/xfile.bak=4444",
                   "x./xfile.bak=55555", "keep=k", "keep.=666666"});
  RunResult run = RunKelvo(tree, RunOptions()
                                     .WithArgs({"/S", "/N", "/Y"})
                                     .WithCompanions({"KELVO.TAB=keep.\r\n"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string bak = UnderWine() ? ".BAK" : ".bak";
  std::vector<std::string> below = {" ..", "x", "x."};
  auto expected = [&] {
    Transcript t = Transcript().Banner().Offer(tree, "keep.", 0).Offer(tree, "a" + bak, 0);
    for (const std::string& dir : below) {
      t.Offer(tree, dir + (dir == " .." ? "/a" : "/xfile") + bak, 0);
      if (dir == " ..") t.Offer(tree, " ../ ../n" + bak, 0);
    }
    return t.Summary(21);
  };
  // Wine lists siblings in the order its file system keeps them.
  while (UnderWine() && MaskFreed(run.out) != expected().bytes() &&
         std::next_permutation(below.begin(), below.end())) {
  }
  EXPECT_TRUE(SameOutput(run, expected()));
  EXPECT_EQ(tree.Left(), (Names{" ../", " ../ ../", "keep", "x./", "x/"}));
}

TEST(Descent, BindMountInsideTheTreeIsNeitherEnteredNorSearchedByAMask) {
  if (UnderWine())
    GTEST_SKIP() << "Wine makes no volume mount point, and a Unix bind mount is none; on "
                    "Windows a mount point is a reparse point, passed over as links are";
  ScopedTree outside({"L.PAS", "L.EXE=out"});
  ScopedTree tree({"A.PAS", "A.EXE=12", "MNT/", "SUB/S.PAS", "SUB/S.EXE=345"});
  // Made in a mount namespace of the run's own, the mount ends with the run.
  const std::string mountThenRun = "mount --bind \"$0\" MNT && exec \"$@\"";
  RunResult allowed =
      RunProcess({"unshare", "-m", "sh", "-c", mountThenRun, outside.path(), "true"},
                 EnvironmentWith({}), tree.path(), std::nullopt, 30);
  if (allowed.exitCode != 0) GTEST_SKIP() << "no private mount namespace here: " << allowed.err;
  // Of the same file system, the mounted directory shows the tree's device.
  ScopedTree home({"KELVO.TAB=MNT/*\r\n"});
  const std::string kelvo =
      home.PathOf(std::filesystem::path(TheTarget().kelvo).filename().string());
  std::filesystem::copy_file(TheTarget().kelvo, kelvo);
  RunResult run =
      RunProcess({"unshare", "-m", "sh", "-c", mountThenRun, outside.path(), kelvo, "/S"},
                 ChildEnvironment(), tree.path(), "yyyy", kRunSeconds);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "A.EXE", 'Y').Offer(tree, "SUB/S.EXE", 'Y').Summary(5)));
  EXPECT_EQ(outside.Left(), (Names{"L.EXE", "L.PAS"}));

  // A directory of the tree bound inside it shows one directory twice: the
  // one the descent enters is cleaned as itself, whatever was read of the
  // other, and the bound one is not entered.
  ScopedTree twice({"A/X/DEEP.BAK=1", "M/"});
  // Files to clean first, for what is read ahead to be there by then.
  for (int i = 0; i < 100; ++i) twice.Add(std::to_string(100 + i) + ".BAK");
  RunResult bound = RunProcess({"unshare", "-m", "sh", "-c", "mount --bind \"$0\" M && exec \"$@\"",
                                twice.PathOf("A"), kelvo,
                                "/S", "/N", "/Y"},
                               ChildEnvironment(), twice.path(), std::nullopt, kRunSeconds);
  EXPECT_EQ(bound.exitCode, 0) << bound.err;
  EXPECT_NE(bound.out.find(Shown(twice, "A/X/DEEP.BAK")), std::string::npos) << Readable(bound.out);
  EXPECT_EQ(bound.out.find(Shown(twice, "M/")), std::string::npos) << Readable(bound.out);
  EXPECT_EQ(twice.Left(), (Names{"A/", "A/X/", "M/"}));
}

TEST(Descent, EmptyTreePrintsNothingBetweenQuestionAndSummary) {
  ScopedTree tree;
  EXPECT_TRUE(SameOutput(RunKelvo(tree, Recursive("yy")), Opening('Y').Summary(0)));
  tree.Add("E/F/G/");
  tree.Add("E/F/G.PAS");
  EXPECT_TRUE(SameOutput(RunKelvo(tree, Recursive("yy")), Opening('Y').Summary(0)));
  EXPECT_EQ(tree.Left(), (Names{"E/", "E/F/", "E/F/G.PAS", "E/F/G/"}));
}

TEST(Descent, FilesBelowPathsLongerThanMaxPathAreAnnouncedWithTheWholePath) {
  // Past 260 characters the Windows ANSI calls report no current directory:
  // a file down there named by a tail from the root would read as a file in
  // the root at the question. Into a file, at a console, and from a
  // directory argument that long, the path is whole.
  constexpr int kLevels = 14;
  Names files;
  std::vector<std::string> dirs = {""};
  for (int level = 1; level <= kLevels; ++level) {
    char name[32];
    snprintf(name, sizeof name, "level%02d_abcdefghijklmnop/", level);
    dirs.push_back(dirs.back() + name);
    files.push_back(dirs.back() + "L.PAS");
    files.push_back(dirs.back() + "L.EXE=" + std::string(level, 'x'));
  }
  ScopedTree tree(files);
  const Names all = tree.Left();
  ASSERT_GT(Shown(tree, dirs.back()).size(), 300u);
  const std::string no(kLevels, 'n');
  Transcript offered = Transcript().Banner();
  for (int level = 1; level <= kLevels; ++level) offered.Offer(tree, dirs[level] + "L.EXE", 'N');
  EXPECT_TRUE(SameOutput(RunKelvo(tree, Keys(no).WithArgs({"/S", "/N"})), offered.Summary(0)));

  std::unique_ptr<TerminalRun> console = StartAtTerminal(tree, {"/S", "/N"});
  // Keys typed before the program has its console to itself are echoed by
  // the terminal into the screen: each waits for its question.
  for (int level = 1; level <= kLevels; ++level) {
    ASSERT_TRUE(console->WaitFor("Y/N:", level)) << console->Screen();
    console->Type("n");
  }
  EXPECT_EQ(console->Finish(), 0) << console->Screen();
  // A line longer than the screen is wrapped there.
  std::string screen = console->Screen();
  std::erase(screen, '\n');
  for (int level = 1; level <= kLevels; ++level)
    EXPECT_EQ(Occurrences(screen, "Удаляется файл:  " + Shown(tree, dirs[level] + "L.EXE")), 1)
        << level << ": " << screen;
  EXPECT_EQ(tree.Left(), all);

  // Windows takes the argument in upper case, and names it so.
  std::string deep = Shown(tree, dirs[kLevels - 1]);
  deep.pop_back();
  ASSERT_GT(deep.size(), 260u);
  RunResult run = RunKelvo(tree, RunOptions().WithArgs({"/S", "/N", "/Y", deep}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  Transcript bottom = Transcript().Banner();
  for (int level = kLevels - 1; level <= kLevels; ++level)
    bottom.Offer(tree, dirs[level] + "L.EXE", 0);
  bottom.Summary(27);
  auto upper = [](std::string text) {
    for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return text;
  };
  if (UnderWine())
    EXPECT_EQ(Readable(upper(MaskFreed(run.out))), Readable(upper(bottom.bytes())));
  else
    EXPECT_TRUE(SameOutput(run, bottom));
  EXPECT_EQ(tree.Left().size(), all.size() - 2);
}

TEST(Descent, DirectoryThatCannotBeEnteredIsReportedAndSkipped) {
  const bool root = geteuid() == 0;
  if (UnderWine() && root)
    GTEST_SKIP() << "permissions do not stop root, and a Wine prefix serves only the user who "
                    "made it: the unprivileged run is native only";
  // Writable, so a plain directory, but neither readable nor searchable; or
  // searchable, so it is entered, but not readable, so it cannot be listed.
  for (mode_t mode : {0200, 0311}) {
    SCOPED_TRACE(mode == 0200 ? "not searchable" : "not readable");
    ScopedTree tree(
        {"A.PAS", "A.EXE=1", "LOCKED/L.PAS", "LOCKED/L.EXE=22", "OK/K.PAS", "OK/K.EXE=333"});
    std::vector<std::string> command = CommandAsUnprivileged(tree, {"/S"});
    ASSERT_EQ(chmod(tree.PathOf("LOCKED").c_str(), mode), 0);
    RunResult run = RunProcess(command, ChildEnvironment(), tree.path(), "yyyy", kRunSeconds);
    chmod(tree.PathOf("LOCKED").c_str(), 0755);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(SameOutput(run, Opening('Y')
                                    .Offer(tree, "A.EXE", 'Y')
                                    .LineWithName(kCannotEnter, Shown(tree, "LOCKED") + ".")
                                    .Offer(tree, "OK/K.EXE", 'Y')
                                    .Summary(4)));
    EXPECT_EQ(tree.Left(),
              (Names{"A.PAS", "LOCKED/", "LOCKED/L.EXE", "LOCKED/L.PAS", "OK/", "OK/K.PAS"}));
  }
}

// Runs of "/D" written as their count, so that a difference stays readable.
std::string Collapsed(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 0;
    while (text.substr(i + 2 * n, 2) == "/D" && text.substr(i + 2 * n + 2, 1) == "/") ++n;
    if (n > 1) {
      out += "/<" + std::to_string(n) + " x D>";
      i += 2 * n;
    } else {
      out += text[i++];
    }
  }
  return out;
}

TEST(Descent, ChainsOfThousandsOfLevelsAreCleanedWithFewDescriptorsAndLittleStack) {
  if (UnderWine())
    GTEST_SKIP() << "Windows keeps the current directory within MAX_PATH (260) characters";
  for (int depth : {5000, 100000}) {
    const std::string levels = std::to_string(depth);
    SCOPED_TRACE(levels + " levels");
    ScopedTree tree;
    struct RemoveChain {
      const ScopedTree& tree;
      // Even when the test fails: a chain this deep is no tree to look into.
      ~RemoveChain() { RemoveTree(tree.PathOf("D")); }
    } removeChain{tree};
    int bottom = OpenChain(tree.path(), "D", depth, true);
    ASSERT_GE(bottom, 0);
    close(openat(bottom, "X.PAS", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    int exe = openat(bottom, "X.EXE", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    EXPECT_EQ(write(exe, "MZ", 2), 2);
    close(exe);
    close(bottom);

    // A descriptor or a search kept open per level would run out long
    // before the bottom, as would a stack frame per level the 8 MiB of stack
    // a shell gives by default.
    RunResult run =
        RunProcess({"prlimit", "--nofile=64", "--stack=8388608", TheTarget().kelvo, "/S"},
                   ChildEnvironment(), tree.path(), "yy", 2 * kRunSeconds);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run.out = Collapsed(run.out);
    EXPECT_TRUE(
        SameOutput(run, Opening('Y').Offer(tree, "<" + levels + " x D>/X.EXE", 'Y').Summary(2)));
    bottom = OpenChain(tree.path(), "D", depth, false);
    ASSERT_GE(bottom, 0);
    EXPECT_EQ(faccessat(bottom, "X.PAS", F_OK, 0), 0);
    EXPECT_NE(faccessat(bottom, "X.EXE", F_OK, 0), 0);
    close(bottom);
  }

  // Under a limit on open files the descent cannot keep to, a directory it
  // cannot open or list is reported, with all below it, never taken for an
  // empty one.
  ScopedTree tight;
  std::string chain;
  for (int i = 0; i < 60; ++i) {
    chain += "D/";
    tight.Add(chain + "X.BAK");
    tight.Add(chain + "S/Y.BAK");
  }
  RunResult run = RunProcess({"prlimit", "--nofile=12", TheTarget().kelvo, "/S", "/N", "/Y"},
                             ChildEnvironment(), tight.path(), std::nullopt, kRunSeconds);
  int left = 0;
  for (const std::string& name : tight.Left()) {
    if (!name.ends_with(".BAK")) continue;
    ++left;
    // The directory of the file left, or one above it, was said to be so.
    bool said = false;
    for (std::string dir = name.substr(0, name.rfind('/')); !said && !dir.empty();
         dir = dir.substr(0, dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/')))
      said = run.out.find(Cp866(kCannotEnter) + Shown(tight, dir) + ".") != std::string::npos;
    EXPECT_TRUE(said) << name << " left unsaid:\n" << Readable(run.out);
  }
  EXPECT_EQ(run.exitCode, left > 0 ? 2 : 0) << run.err;
}

}  // namespace
}  // namespace e2e
