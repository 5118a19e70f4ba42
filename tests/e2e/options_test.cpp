// The command line: options, the help screen, bad arguments and the
// directory argument, seen from outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

Transcript Help(const std::string& exe) {
  std::string base = exe.substr(0, exe.rfind('.'));
  std::string tab = base + ".TAB";
  std::string ext = base + ".EXT";
  Transcript help;
  help.Banner()
      .Line("Вызов: " + exe + " [опции] [директория].")
      .Line("[директория] - директория с которой начинается удаление файлов.")
      .Line("Опции:")
      .Line("/? - вызов помощи.")
      .Line("/s - удаление файлов в поддиректориях.")
      .Line("/y - удаление файлов без подтверждения.")
      .Line("/n - запуск программы без начального подтверждения.")
      .Line("/t - удаление файлов без маски заданной в файле " + tab + ".")
      .Line("Файл " + tab + " содержит маски файлов безусловного удаления.")
      .Line("Файл " + ext + " расширения файлов для удаления.")
      .Line(UnderWine()
                ? "Файлы " + tab + " и " + ext + " должны находится там же, где и файл " + exe + "."
                : "Оба файла ищутся рядом с " + exe +
                      ", затем в ~/.config/kelvo/ и /etc/xdg/kelvo/.");
  return help;
}

// The number on the summary's freed-space line; -1 when there is none.
int64_t Freed(const RunResult& run) {
  std::string label = Cp866("Освобождено на диске    : ");
  size_t at = run.out.rfind(label);
  return at == std::string::npos ? -1 : std::stoll(run.out.substr(at + label.size()));
}

TEST(CommandLine, HelpScreenNamesTheProgramAsItIsCalled) {
  ScopedTree tree({"A.PAS", "A.EXE=exe"});
  const std::string exe = std::filesystem::path(TheTarget().kelvo).filename();
  // /? ends the run where it stands: nothing after it is looked at, nothing
  // is deleted.
  std::vector<std::vector<std::string>> asks = {{"/?"}, {"/n", "/?", "/SY"}};
  // Linux hands' words for it, on Linux only.
  if (!UnderWine()) asks.insert(asks.end(), {{"-h"}, {"/n", "--help", "-x"}});
  for (const std::vector<std::string>& args : asks) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult run = RunKelvo(tree, Keys("yy").WithArgs(args));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameOutput(run, Help(exe)));
    EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
  }
  if (!UnderWine()) {
    RunResult run = RunKelvo(tree, Keys("yy").WithArgs({"--version", "/N", "/Y"}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameOutput(run, Transcript().Line("   Версия 1.6.2(32)  (c) kelvo authors")));
    EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
  }

  // Renamed, the program names itself and its companions after its new
  // name: TIDY.TAB is read, the rule file of the old name is not.
  ScopedTree home({"TIDY.TAB=*.BAK\r\n", "KELVO.EXT=.PAS .PAS\r\n"});
  std::filesystem::copy_file(TheTarget().kelvo, home.PathOf("tidy.exe"));
  auto runTidy = [&](const std::vector<std::string>& args, const std::string& keys) {
    return RunProcess(CommandFor(home.PathOf("tidy.exe"), args), ChildEnvironment(), tree.path(),
                      keys, kRunSeconds);
  };
  RunResult run = runTidy({"/?"}, "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, Help("tidy.exe")));
  tree.Add("B.BAK=bak");
  run = runTidy({}, "yyyy");
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "B.BAK", 'Y').Offer(tree, "A.EXE", 'Y').Summary(3 + 3)));
  EXPECT_EQ(tree.Left(), (Names{"A.PAS"}));
}

TEST(CommandLine, OptionsInEitherCase) {
  ScopedTree tree({"A.PAS", "A.EXE=exe", "B.BAK=bak"});
  // No input: a question asked would be answered N and keep the files.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/n", "/Y"}, {"/N", "/y", "/s", "/T", "/t", "/S", "/N"}}) {
    tree.Add("A.EXE=exe");
    tree.Add("B.BAK=bak");
    RunResult run = RunKelvo(tree, RunOptions().WithArgs(args));
    EXPECT_EQ(run.exitCode, 0);
    Transcript quiet;
    quiet.Banner().Offer(tree, "A.EXE", 0).Offer(tree, "B.BAK", 0).Summary(3 + 3);
    EXPECT_TRUE(SameOutput(run, quiet));
    EXPECT_EQ(tree.Left(), (Names{"A.PAS"}));
  }
}

TEST(CommandLine, BadArgumentEndsTheRunBeforeAnyDeletion) {
  ScopedTree tree({"A.PAS", "A.EXE=exe", "SUB/A.PAS", "SUB/A.EXE=exe"});
  const Names all = tree.Left();
  const struct {
    std::vector<std::string> args;
    int position;
  } cases[] = {
      {{"/SY"}, 1},
      {{"/N", "/sy"}, 2},
      {{"/X"}, 1},
      {{"/"}, 1},
      {{"/??"}, 1},
      // The first directory is entered, and "." would name it again.
      {{"SUB", "."}, 2},
      {{"MISSING", "/?"}, 1},
      // SUB is entered before /X stops the run; nothing there is deleted.
      {{"/Y", "SUB", "/X"}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult run = RunKelvo(tree, Keys("yyyy").WithArgs(c.args));
    EXPECT_EQ(run.exitCode, 1);
    Transcript error;
    error.Banner().Line("Ошибка в параметре:" + std::to_string(c.position) + ".");
    EXPECT_TRUE(SameOutput(run, error));
    EXPECT_EQ(tree.Left(), all);
  }
}

TEST(CommandLine, DirectoryArgumentIsCleanedNamedAsTypedAndMeasuredOnItsDrive) {
  // Big enough that the space its deletion frees stands out from whatever
  // else uses the disk meanwhile.
  constexpr int64_t kBig = 32 << 20;
  ScopedTree tree({"A.PAS", "A.EXE=top", "sub/A.PAS"});
  // Relative, and absolute: natively a path from "/", under Wine one with a
  // drive letter. SUB has no drive letter: it must not read drive S.
  const std::string absolute = Shown(tree, "sub");
  for (const std::string& dir : {std::string("sub"), absolute}) {
    SCOPED_TRACE(dir);
    tree.Add("sub/A.EXE=" + std::string(kBig, 'x'));
    tree.Add("sub/B.BAK=bak");
    RunResult run = RunKelvo(tree, Keys("yyy").WithArgs({dir}));
    EXPECT_EQ(run.exitCode, 0);
    // Shown as typed; Windows upper-cases it, its names ignoring case.
    std::string shown = dir + (UnderWine() ? "\\" : "/");
    if (UnderWine()) std::transform(shown.begin(), shown.end(), shown.begin(), ::toupper);
    EXPECT_TRUE(SameOutput(run, Opening('Y')
                                    .LineWithName("Удаляется файл:  ", shown + "A.EXE")
                                    .Line("Подтверждаете Y/N:  Y")
                                    .LineWithName("Удаляется файл:  ", shown + "B.BAK")
                                    .Line("Подтверждаете Y/N:  Y")
                                    .Summary(kBig + 3)));
    EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS", "sub/", "sub/A.PAS"}));
    EXPECT_GE(Freed(run), kBig / 2);
    EXPECT_LE(Freed(run), kBig * 4);
  }

  // Typed in another case, each level of the path is found.
  tree.Add("sub/inner/C.PAS");
  tree.Add("sub/inner/C.EXE=inner");
  RunResult run = RunKelvo(tree, Keys("yy").WithArgs({"SUB/INNER"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(MaskFreed(run.out).ends_with(Transcript().Summary(5).bytes())) << Readable(run.out);
  EXPECT_EQ(tree.Left(),
            (Names{"A.EXE", "A.PAS", "sub/", "sub/A.PAS", "sub/inner/", "sub/inner/C.PAS"}));
}

}  // namespace
}  // namespace e2e
