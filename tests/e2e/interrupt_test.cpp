// The interrupt while a question waits: the run stops right there with the
// stop message, writes no summary, and deletes nothing more; a signal its
// caller had set to be ignored is left ignored.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <vector>

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

TEST(Interrupt, SignalWhileAQuestionWaitsEndsTheRunByThatSignalUnlessIgnoredAtStart) {
  if (UnderWine())
    GTEST_SKIP() << "signals are the POSIX build's interrupt; under Wine the console's Ctrl-C "
                    "is tested at a terminal";
  struct Case {
    int sig;
    bool utf8 = false;
    // Set to be ignored by whoever started the run; such a signal, once
    // sent, leaves the run to go on.
    std::vector<int> ignored = {};
  };
  const Case cases[] = {
      {SIGINT}, {SIGTERM}, {SIGQUIT}, {SIGHUP},
      // The stop message is UTF-8 text in a UTF-8 locale.
      {SIGINT, true},
      // nohup's SIGHUP.
      {SIGHUP, false, {SIGHUP}},
      // A background job's: what it leaves alone still stops it.
      {SIGINT, false, {SIGINT, SIGQUIT}},
      {SIGTERM, false, {SIGINT, SIGQUIT}},
  };
  for (const Case& c : cases) {
    const bool goesOn = std::find(c.ignored.begin(), c.ignored.end(), c.sig) != c.ignored.end();
    SCOPED_TRACE(strsignal(c.sig) + std::string(c.utf8 ? " in UTF-8" : "") +
                 (c.ignored.empty() ? "" : ", " + std::to_string(c.ignored.size()) + " ignored"));
    ScopedTree tree(kTree);
    // Output goes into a pipe: the question waiting for its key must be
    // there to read in full, as a user who pipes the run through a pager or
    // a log sees it, not only once it has been answered.
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S"}),
                            ChildEnvironment({c.utf8 ? "LC_ALL=C.UTF-8" : "LC_ALL=C"}), tree.path(),
                            true, c.ignored);
    kelvo.Send("yyy");
    ASSERT_TRUE(kelvo.WaitUntilReading());
    Transcript asked = Opening('Y')
                           .Offer(tree, "A.EXE", 'Y')
                           .Offer(tree, "SUB/B.EXE", 'Y')
                           .Offer(tree, "SUB/B.TPU", 0);
    const std::string prompt = std::string(kConfirm) + "  ";
    EXPECT_EQ(Readable(kelvo.OutputSoFar()),
              Readable(c.utf8 ? asked.text() + prompt : asked.bytes() + Cp866(prompt)));
    ASSERT_EQ(kill(kelvo.pid(), c.sig), 0);
    int status = 0;
    if (goesOn) {
      // Still waiting for its key once the signal has come and gone.
      ASSERT_TRUE(kelvo.WaitUntilSettled());
      ASSERT_TRUE(kelvo.WaitUntilReading());
      kelvo.Send("yy");
      RunResult run = kelvo.Finish(10, &status);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << run.exitCode;
      asked = Opening('Y')
                  .Offer(tree, "A.EXE", 'Y')
                  .Offer(tree, "SUB/B.EXE", 'Y')
                  .Offer(tree, "SUB/B.TPU", 'Y')
                  .Offer(tree, "ZED/C.EXE", 'Y')
                  .Summary(1 + 2 + 3 + 4);
      EXPECT_TRUE(SameOutput(run, asked));
      EXPECT_EQ(tree.Left(), (Names{"A.PAS", "SUB/", "SUB/B.PAS", "ZED/", "ZED/C.PAS"}));
      continue;
    }
    RunResult run = kelvo.Finish(10, &status);
    // Re-raised, so a shell sees 128 + the signal.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << "exit " << run.exitCode;
    // The stop message closes the prompt's line; no summary follows.
    EXPECT_TRUE(SameOutput(run, asked.Line(prompt).Line(kStopped), c.utf8));
    EXPECT_EQ(tree.Left(), kLeft);
  }
}

TEST(Interrupt, CtrlCAtTheTerminalWhileAQuestionWaits) {
  // Natively the terminal turns the key into SIGINT; under Wine the console
  // calls the handler on a thread of its own while the main one waits. With
  // the output in a file the terminal is shown the questions, and the stop
  // message too.
  for (bool toFile : {false, true}) {
    SCOPED_TRACE(toFile ? "output to a file" : "output at the terminal");
    ScopedTree tree(kTree);
    ScopedTree logs;
    std::unique_ptr<TerminalRun> run =
        StartAtTerminal(tree, {"/S"}, {toFile ? logs.PathOf("log.txt") : "", ""});
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
}

}  // namespace
}  // namespace e2e
