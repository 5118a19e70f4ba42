// The interrupt while a question waits: the run stops right there with the
// stop message, writes no summary, and deletes nothing more.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include "expect.h"
#include "process.h"
#include "runner.h"
#include "terminal.h"
#include "tree.h"

namespace e2e {
namespace {

constexpr std::string_view kConfirm = "Подтверждаете Y/N:";
constexpr std::string_view kStopped = "Программа остановлена по Ctrl-Break.";

// Each run answers Y to A.EXE and SUB/B.EXE and is stopped at the question
// about SUB/B.TPU: what ZED holds comes later and must stay.
const Names kTree = {"A.PAS",         "A.EXE=1",   "SUB/B.PAS",     "SUB/B.EXE=22",
                     "SUB/B.TPU=333", "ZED/C.PAS", "ZED/C.EXE=4444"};
const Names kLeft = {"A.PAS", "SUB/", "SUB/B.PAS", "SUB/B.TPU", "ZED/", "ZED/C.EXE", "ZED/C.PAS"};

TEST(Interrupt, SignalWhileAQuestionWaitsEndsTheRunByThatSignal) {
  if (UnderWine())
    GTEST_SKIP() << "signals are the POSIX build's interrupt; under Wine the console's Ctrl-C "
                    "is tested at a terminal";
  for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, 0}) {
    // Last, SIGINT again in a UTF-8 locale: the stop message is UTF-8 text.
    const bool utf8 = sig == 0;
    if (utf8) sig = SIGINT;
    SCOPED_TRACE(strsignal(sig) + std::string(utf8 ? " in UTF-8" : ""));
    ScopedTree tree(kTree);
    // Output goes into a pipe: the question waiting for its key must be
    // there to read in full, as a user who pipes the run through a pager or
    // a log sees it, not only once it has been answered.
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S"}),
                            ChildEnvironment({utf8 ? "LC_ALL=C.UTF-8" : "LC_ALL=C"}), tree.path(),
                            true);
    kelvo.Send("yyy");
    ASSERT_TRUE(kelvo.WaitUntilReading());
    Transcript asked = Opening('Y')
                           .Offer(tree, "A.EXE", 'Y')
                           .Offer(tree, "SUB/B.EXE", 'Y')
                           .Offer(tree, "SUB/B.TPU", 0);
    const std::string prompt = std::string(kConfirm) + "  ";
    EXPECT_EQ(Readable(kelvo.OutputSoFar()),
              Readable(utf8 ? asked.text() + prompt : asked.bytes() + Cp866(prompt)));
    ASSERT_EQ(kill(kelvo.pid(), sig), 0);
    int status = 0;
    RunResult run = kelvo.Finish(10, &status);
    // Re-raised, so a shell sees 128 + the signal.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "exit " << run.exitCode;
    // The stop message closes the prompt's line; no summary follows.
    EXPECT_TRUE(SameOutput(run, asked.Line(prompt).Line(kStopped), utf8));
    EXPECT_EQ(tree.Left(), kLeft);
  }
}

TEST(Interrupt, CtrlCAtTheTerminalWhileAQuestionWaits) {
  // Natively the terminal turns the key into SIGINT; under Wine the console
  // calls the handler on a thread of its own while the main one waits.
  ScopedTree tree(kTree);
  std::unique_ptr<TerminalRun> run = StartAtTerminal(tree, {"/S"});
  ASSERT_TRUE(run->WaitFor("Вы уверены ? Y/N:")) << run->Screen();
  run->Type("y");
  for (int asked = 1; asked <= 2; ++asked) {
    ASSERT_TRUE(run->WaitFor(kConfirm, asked)) << run->Screen();
    run->Type("y");
  }
  ASSERT_TRUE(run->WaitFor(kConfirm, 3)) << run->Screen();
  run->Type("\x03");
  // Wine's default handling ends the process with status 0.
  EXPECT_EQ(run->Finish(), UnderWine() ? 0 : 128 + SIGINT);
  std::string screen = run->Screen();
  EXPECT_TRUE(screen.ends_with(Shown(tree, "SUB/B.TPU") + "\n" + std::string(kConfirm) + "\n" +
                               std::string(kStopped) + "\n"))
      << screen;
  EXPECT_EQ(Occurrences(screen, "Размер удаленных файлов"), 0) << screen;
  EXPECT_EQ(tree.Left(), kLeft);
}

}  // namespace
}  // namespace e2e
