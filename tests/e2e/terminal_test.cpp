// Answers typed at a real terminal, where the text is shown converted for
// it and a key is pressed and released.
#include "terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

constexpr std::string_view kConfirm = "Подтверждаете Y/N:";
constexpr std::string_view kFreed = "Освобождено на диске    :";

// The freed-space number depends on the rest of the disk.
std::string WithoutFreedNumber(std::string screen) {
  size_t at = screen.find(kFreed);
  if (at == std::string::npos) return screen;
  size_t end = screen.find('\n', at);
  return screen.replace(at, end - at, std::string(kFreed) + " <freed> байт");
}

// Gives a stray second answer time to show up.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

TEST(Terminal, OneKeystrokeAnswersOneQuestion) {
  ScopedTree tree({"A.PAS", "A.EXE=exe", "A.TPU=unit"});
  const Names all = tree.Left();
  std::unique_ptr<TerminalRun> run = StartAtTerminal(tree);

  ASSERT_TRUE(run->WaitFor("Будет удаление файлов, Вы уверены ? Y/N:")) << run->Screen();
  run->Type("y");
  ASSERT_TRUE(run->WaitFor(kConfirm)) << run->Screen();
  // Were the release of "y" taken as a key too, it would answer this question.
  Settle();
  EXPECT_EQ(Occurrences(run->Screen(), std::string(kConfirm) + "  "), 0) << run->Screen();
  EXPECT_FALSE(run->Ended().has_value());
  EXPECT_EQ(tree.Left(), all);

  run->Type("x");  // no answer: the question stays
  run->Type("n");
  ASSERT_TRUE(run->WaitFor(kConfirm, 2)) << run->Screen();
  Settle();
  EXPECT_EQ(Occurrences(run->Screen(), std::string(kConfirm) + "  "), 1) << run->Screen();
  run->Type("Y");
  EXPECT_EQ(run->Finish(), 0) << run->Screen();

  std::string expected;
  for (const std::string& line : std::vector<std::string>{
           "Утилита удаления  файлов получаемых при компиляции.",
           "Для помощи используйте опцию /?.",
           "   Версия 1.6.2(32)  (c) kelvo authors",
           "Будет удаление файлов, Вы уверены ? Y/N: Y",
           "Удаляется файл:  " + Shown(tree, "A.EXE"),
           "Подтверждаете Y/N:  N",
           "Удаляется файл:  " + Shown(tree, "A.TPU"),
           "Подтверждаете Y/N:  Y",
           std::string(48, '_'),
           "Размер удаленных файлов :          4 байт",
           std::string(kFreed) + " <freed> байт",
       })
    expected += line + "\n";
  EXPECT_EQ(WithoutFreedNumber(run->Screen()), expected);
  EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
}

TEST(Terminal, QuestionsAreShownWhereTheKeysAreTypedWhenOutputGoesToAFile) {
  // kelvo > log.txt: were the questions in the file only, each key typed
  // would answer a question nobody saw. The terminal shows the questions and
  // what they ask about, and the log holds what a run without a terminal
  // writes. Natively the terminal is reached through standard error, or,
  // with that in a file too, as the controlling terminal. Wine's console
  // shows its text on the Unix standard output or error, so with both in
  // files it has no screen to show it on.
  for (bool errorToFile : {false, true}) {
    if (errorToFile && UnderWine()) continue;
    SCOPED_TRACE(errorToFile ? "standard error to a file" : "standard error at the terminal");
    ScopedTree tree({"A.PAS", "A.EXE=exe", "A.TPU=unit"});
    ScopedTree logs;
    std::unique_ptr<TerminalRun> run = StartAtTerminal(
        tree, {}, {logs.PathOf("log.txt"), errorToFile ? logs.PathOf("err.txt") : ""});
    ASSERT_TRUE(run->WaitFor("Будет удаление файлов, Вы уверены ? Y/N:")) << run->Screen();
    run->Type("y");
    ASSERT_TRUE(run->WaitFor(kConfirm)) << run->Screen();
    run->Type("n");
    ASSERT_TRUE(run->WaitFor(kConfirm, 2)) << run->Screen();
    run->Type("y");
    EXPECT_EQ(run->Finish(), 0) << run->Screen();
    std::string expected;
    for (const std::string& line : std::vector<std::string>{
             "Будет удаление файлов, Вы уверены ? Y/N: Y",
             "Удаляется файл:  " + Shown(tree, "A.EXE"),
             "Подтверждаете Y/N:  N",
             "Удаляется файл:  " + Shown(tree, "A.TPU"),
             "Подтверждаете Y/N:  Y",
         })
      expected += line + "\n";
    EXPECT_EQ(run->Screen(), expected);
    RunResult log;
    log.out = logs.Read("log.txt");
    // Natively the terminal's locale is UTF-8, and so is the text in the file.
    EXPECT_TRUE(SameOutput(log, Opening('Y').Offer(tree, "A.EXE", 'N').Offer(tree, "A.TPU", 'Y').Summary(4),
                           !UnderWine()));
    EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));
  }
}

TEST(Terminal, TerminalClosedWhileTheStartQuestionWaitsEndsTheRunAsOutputThatFailed) {
  if (UnderWine()) GTEST_SKIP() << "a closed Wine console ends the program by a signal of its own";
  // Nobody reads the answer, the summary or anything after: the run ends as
  // a run whose output failed, not as one that went well.
  ScopedTree tree({"A.PAS", "A.EXE=exe"});
  const Names all = tree.Left();
  std::unique_ptr<TerminalRun> run = StartAtTerminal(tree, {}, {"", "", false});
  ASSERT_TRUE(run->WaitFor("Будет удаление файлов, Вы уверены ? Y/N:")) << run->Screen();
  run->HangUp();
  EXPECT_EQ(run->Finish(), 2);
  EXPECT_EQ(tree.Left(), all);
}

TEST(Terminal, NamesThatLookAlikeOrHoldControlsAreQuotedToReadBackAsTheirBytes) {
  // x<CR>y.bak, x<LF>y.bak and x?y.bak are three files: shown alike, the
  // question about one reads as the question about another. A C1 control
  // (CSI, in UTF-8 or as a byte of its own) would run a sequence at a
  // terminal that honours it. So would a.bak and a<U+200B>.bak, and a
  // right-to-left override shows thesis<U+202E>fdp.bak as thesiskab.pdf.
  // Names that show as text are left as they are. The Windows console
  // shows "?" for a character of no width; Windows names hold no controls.
  struct Case {
    std::string name;
    // The line's name, "@" standing for the directory; on Windows, where
    // empty, there is no such name, and the extension is the mask's.
    std::string shown;
    std::string onWindows;
  };
  const Case cases[] = {
      {"x\ry.bak", "'@x'$'\\r''y.bak'", ""},
      {"x\ny.bak", "'@x'$'\\n''y.bak'", ""},
      {"x?y.bak", "@x?y.bak", ""},
      {"\xC2\x9B" "2J.bak", "'@'$'\\302\\233''2J.bak'", ""},
      {"\x9B" "2J.bak", "'@'$'\\233''2J.bak'", ""},
      {"it's.bak", "@it's.bak", ""},
      {"\xE9t\xE9.bak", "'@'$'\\351''t'$'\\351''.bak'", ""},
      {"отчёт.bak", "@отчёт.bak", ""},
      {"a.bak", "@a.bak", "@a.BAK"},
      {"a\u200B.bak", "'@a'$'\\342\\200\\213''.bak'", "@a?.BAK"},
      {"thesis\u202Efdp.bak", "'@thesis'$'\\342\\200\\256''fdp.bak'", "@thesis?fdp.BAK"},
  };
  Names names;
  for (const Case& c : cases)
    if (!UnderWine() || !c.onWindows.empty()) names.push_back(c.name);
  ScopedTree tree(names);
  std::unique_ptr<TerminalRun> run = StartAtTerminal(tree, {"/N", "/Y"});
  EXPECT_EQ(run->Finish(), 0) << run->Screen();
  const std::string screen = run->Screen();
  const std::string dir = Shown(tree, "");
  for (const Case& c : cases) {
    if (UnderWine() && c.onWindows.empty()) continue;
    std::string shown = UnderWine() ? c.onWindows : c.shown;
    shown.replace(shown.find('@'), 1, dir);
    EXPECT_EQ(Occurrences(screen, "Удаляется файл:  " + shown + "\n"), 1) << shown << "\n" << screen;
  }
  EXPECT_EQ(tree.Left(), Names{});
}

}  // namespace
}  // namespace e2e
