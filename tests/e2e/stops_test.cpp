// Runs stopped from outside at any moment of a long run: by a reader of the
// output that goes away, by an interrupt. Whatever the moment, no file goes
// that was not announced first, and none after the stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>

#include "expect.h"
#include "process.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

constexpr std::string_view kRemoving = "Удаляется файл:  ";

// Pair i of a big tree: a source and a derived file, names all of one
// length, a thousand pairs a directory: "D00/F0000" for ".PAS" and ".EXE".
std::string PairName(int i) {
  char name[32];
  snprintf(name, sizeof name, "D%02d/F%04d", i / 1000, i % 1000);
  return name;
}

// Makes the files of the first `pairs` pairs that are missing, so a tree a
// run cleaned is quickly filled again.
void FillPairs(ScopedTree& tree, int pairs) {
  for (int i = 0; i < pairs; ++i)
    for (std::string file : {PairName(i) + ".PAS", PairName(i) + ".EXE"})
      if (access(tree.PathOf(file).c_str(), F_OK) != 0) tree.Add(file + "=x");
}

// What a tree filled by FillPairs holds of each kind.
std::pair<int, int> SourcesAndDerived(const ScopedTree& tree) {
  int sources = 0, derived = 0;
  for (const std::string& name : tree.Left()) {
    sources += name.ends_with(".PAS");
    derived += name.ends_with(".EXE");
  }
  return {sources, derived};
}

TEST(Stops, BrokenOutputPipeEndsTheRun) {
  // Far more output than a pipe holds; fewer under Wine, where each
  // deletion takes milliseconds.
  const int kPairs = UnderWine() ? 2000 : 20000;
  ScopedTree tree;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int capacity = fcntl(fds[0], F_GETPIPE_SZ);
  close(fds[0]);
  close(fds[1]);
  ASSERT_GT(capacity, 0);
  // The shell may hand SIGPIPE on ignored; the program ends by it all the same.
  for (std::string trap : UnderWine() ? Names{""} : Names{"", "trap '' PIPE; "}) {
    SCOPED_TRACE(trap.empty() ? "SIGPIPE left as it is" : "SIGPIPE ignored by the shell");
    FillPairs(tree, kPairs);
    std::vector<std::string> command = {
        "bash", "-c", trap + "\"$@\" | head -c 100; echo \"${PIPESTATUS[0]}\" >&2", "bash"};
    for (const std::string& word : CommandFor(TheTarget().kelvo, {"/S", "/N", "/Y"}))
      command.push_back(word);
    RunResult run =
        RunProcess(command, ChildEnvironment(), tree.path(), std::nullopt, 2 * kRunSeconds);
    EXPECT_EQ(run.out, Transcript().Banner().bytes().substr(0, 100));
    auto [sources, derived] = SourcesAndDerived(tree);
    EXPECT_EQ(sources, kPairs);
    // Windows has no such signal: the write fails, and a run that cannot
    // write stops with code 2.
    EXPECT_TRUE(run.err.ends_with(UnderWine() ? "\n2\n" : std::to_string(128 + SIGPIPE) + "\n"))
        << run.err;
    // Deleted at most: the files announced in what the pipe held, what head
    // read, and the program's own buffer of 128 bytes.
    const std::string line = Cp866("Удаляется файл:  ") + Shown(tree, "D00/F0000.EXE") + "\r\n";
    EXPECT_LE(kPairs - derived, (capacity + 100 + 128) / static_cast<int>(line.size()) + 1);
  }
}

// The end of a long output, readable.
std::string Tail(std::string_view out) {
  return Readable(out.substr(out.size() > 600 ? out.size() - 600 : 0));
}

// Cuts the announcements off the front of `out`; the names they announce,
// relative to `tree`, with "/" between directories.
std::vector<std::string> TakeAnnouncements(const ScopedTree& tree, std::string_view& out) {
  const std::string prefix = Cp866(kRemoving) + Shown(tree, "");
  std::vector<std::string> names;
  for (size_t end; out.starts_with(prefix) && (end = out.find("\r\n")) != out.npos;) {
    std::string name(out.substr(prefix.size(), end - prefix.size()));
    if (UnderWine()) std::replace(name.begin(), name.end(), '\\', '/');
    names.push_back(name);
    out.remove_prefix(end + 2);
  }
  return names;
}

// Checks a run of /S /N /Y over `pairs` pairs that signal `sig` came to:
// it ended by it, or had come to its end (unless `mustStop`). No file went
// that was not announced first, and none after the stop message. A run
// killed, or stopped while its output was full, may end in a line cut short
// (`messageMayLack`).
void ExpectNothingGoneUnannounced(const ScopedTree& tree, int pairs, const RunResult& run,
                                  int status, bool mustStop, int sig = SIGINT,
                                  bool messageMayLack = false) {
  const std::string banner = Transcript().Banner().bytes();
  const std::string stop = Cp866("Программа остановлена по Ctrl-Break.") + "\r\n";
  std::string_view rest = run.out;
  ASSERT_TRUE(rest.starts_with(banner)) << Tail(run.out);
  rest.remove_prefix(banner.size());
  std::vector<std::string> names = TakeAnnouncements(tree, rest);
  // A run that came to its summary had announced every file; a signal
  // may still come while it ends, and then its message follows.
  if (rest.starts_with(std::string(48, '_'))) {
    EXPECT_FALSE(mustStop) << "the run went on to its summary:\n" << Tail(run.out);
    EXPECT_EQ(names.size(), static_cast<size_t>(pairs));
    for (int line = 0; line < 3 && rest.find("\r\n") != rest.npos; ++line)
      rest.remove_prefix(rest.find("\r\n") + 2);
  }
  // Wine's default handling of the interrupt ends the process with 0.
  const bool signalled =
      UnderWine() ? run.exitCode == 0 : WIFSIGNALED(status) && WTERMSIG(status) == sig;
  // Killed, or stopped with its output full: the output may end anywhere
  // in a line, and there is no stop message to look for.
  const bool cutShort =
      messageMayLack && signalled && !rest.ends_with(stop) && rest.find("\r\n") == rest.npos;
  if (cutShort) {
    // What it deleted is checked against what it announced below.
  } else if (rest.empty()) {
    EXPECT_FALSE(mustStop) << "no stop message:\n" << Tail(run.out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << run.exitCode;
    EXPECT_EQ(names.size(), static_cast<size_t>(pairs));
  } else {
    EXPECT_TRUE(signalled) << "exit " << run.exitCode;
    // Nothing follows the stop message, and its line end comes first:
    // it closes the last announcement, or stands on a line of its own,
    // or ends the start of an announcement whose name never came.
    ASSERT_TRUE(rest.ends_with(stop)) << Tail(run.out);
    rest.remove_suffix(stop.size());
    if (rest.ends_with("\r\n") && Cp866(kRemoving).starts_with(rest.substr(0, rest.size() - 2)))
      rest = {};
    EXPECT_TRUE(rest.empty()) << Tail(run.out);
  }
  // Each announced file is gone but the last, which may not be yet; every
  // other file is there. On a share the deletions are made on the workers,
  // up to 128 issued at once (16 on Windows): a stop lets them finish while
  // the share answers, but a kill leaves those of the last announced that
  // no request had begun for.
  const size_t mayStay = sig == SIGKILL && ReadingAhead() ? (UnderWine() ? 16 : 128) : 1;
  std::set<std::string> announced(names.begin(), names.end());
  EXPECT_EQ(announced.size(), names.size());
  std::vector<std::string> left = tree.Left();
  std::set<std::string> there(left.begin(), left.end());
  std::vector<std::string> wrong;
  for (const std::string& name : names)
    if (!name.ends_with(".EXE")) wrong.push_back("announced " + name);
  for (int i = 0; i < pairs; ++i) {
    const std::string exe = PairName(i) + ".EXE";
    if (!there.contains(PairName(i) + ".PAS")) wrong.push_back("gone " + PairName(i) + ".PAS");
    auto at = std::find(names.begin(), names.end(), exe);
    if (at != names.end() && static_cast<size_t>(names.end() - at) <= mayStay) continue;
    if (there.contains(exe) == announced.contains(exe))
      wrong.push_back((there.contains(exe) ? "there " : "gone ") + exe);
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong, first "
                             << (wrong.empty() ? "" : wrong.front()) << "\n"
                             << Tail(run.out);
}

TEST(Stops, InterruptAtAnyMomentDeletesNothingAfterTheStopMessage) {
  if (UnderWine())
    GTEST_SKIP() << "signals are the POSIX build's interrupt; under Wine the console's Ctrl-C "
                    "is tested at a terminal";
  // KELVO_INTERRUPT_ROUNDS=1000 for a longer search by hand.
  const char* asked = getenv("KELVO_INTERRUPT_ROUNDS");
  const int rounds = asked != nullptr && atoi(asked) > 0 ? atoi(asked) : 20;
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  constexpr int kPairs = 2000;
  ScopedTree tree;
  const std::string prefix = Cp866(kRemoving) + Shown(tree, "");
  const off_t lineSize = static_cast<off_t>(prefix.size() + PairName(0).size() + 6);
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    // Every other round kills the run, as a crash would: what it deleted
    // must have been announced all the same.
    const int sig = round % 2 == 0 ? SIGINT : SIGKILL;
    SCOPED_TRACE("round " + std::to_string(round) + ", " + strsignal(sig));
    FillPairs(tree, kPairs);
    // The moment is a point in the output, not in time: the signal goes
    // once that much has been written, however fast the machine.
    const off_t moment = std::uniform_int_distribution<off_t>(0, kPairs * lineSize)(random);
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S", "/N", "/Y"}), ChildEnvironment(),
                            tree.path());
    const std::string out = "/proc/" + std::to_string(kelvo.pid()) + "/fd/1";
    const auto late = std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
    // Until the child has its output file in place, its descriptor 1 is
    // still this program's, whose size says nothing about the run.
    struct stat own, st;
    fstat(STDOUT_FILENO, &own);
    while (stat(out.c_str(), &st) == 0 &&
           ((st.st_dev == own.st_dev && st.st_ino == own.st_ino) || st.st_size < moment))
      ASSERT_LT(std::chrono::steady_clock::now(), late)
          << "the run wrote " << st.st_size << " bytes and no more in " << kRunSeconds << " s";
    kill(kelvo.pid(), sig);
    int status = 0;
    RunResult run = kelvo.Finish(kRunSeconds, &status);
    ExpectNothingGoneUnannounced(tree, kPairs, run, status, false, sig, sig == SIGKILL);
  }
}

TEST(Stops, InterruptWhileAWriteIsBlockedEndsTheRunWithoutWaitingForTheWrite) {
  // Into a full pipe nobody reads, a write blocks. The interrupt that comes
  // then ends the run at once: the write is abandoned, the stop message that
  // would block as well is left out, and nothing more is deleted. Under Wine
  // a signal reaches the console handler as Ctrl-C does.
  constexpr int kPairs = 500;
  ScopedTree tree;
  FillPairs(tree, kPairs);
  BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, {"/S", "/N", "/Y"}), ChildEnvironment(),
                          tree.path(), true);
  ASSERT_TRUE(kelvo.WaitUntilWriting(kRunSeconds));
  ASSERT_EQ(kill(kelvo.pid(), SIGINT), 0);
  // The pipe is read only once the run has ended.
  EXPECT_TRUE(kelvo.WaitUntilEnded(1)) << "still running a second after the interrupt";
  int status = 0;
  RunResult run = kelvo.Finish(kRunSeconds, &status);
  ExpectNothingGoneUnannounced(tree, kPairs, run, status, true, SIGINT, true);
}

TEST(Stops, InterruptDuringADeletionOrDirectoryChangeStopsTheRunRightAfterIt) {
  if (UnderWine())
    GTEST_SKIP() << "signals are the POSIX build's interrupt; under Wine the console's Ctrl-C "
                    "is tested at a terminal";
  // The interrupt comes while the step is under way, inside the stop gate:
  // the step is finished, and then the run stops at once, every line it
  // wrote before the step out, the failure to delete A.EXE among them.
  const struct {
    Names entries;
    std::vector<std::string> args;
    long call;
    Names left;
  } cases[] = {
      {{"A.PAS", "A.EXE=1", "A.TPU=22"}, {"/N", "/Y"}, SYS_unlinkat, {"A.PAS", "A.TPU"}},
      {{"A.PAS", "ro:A.EXE=1", "SUB/B.PAS", "SUB/B.EXE=22"},
       {"/S", "/N", "/Y"},
       SYS_fchdir,
       {"A.EXE", "A.PAS", "SUB/", "SUB/B.EXE", "SUB/B.PAS"}},
  };
  for (const auto& c : cases) {
    // On a share the deletions with no question between them are made on
    // the workers, outside the stop gate: the stop with deletions in flight
    // is InterruptAtAnyMomentDeletesNothingAfterTheStopMessage's.
    if (c.call == SYS_unlinkat && ReadingAhead()) continue;
    SCOPED_TRACE(c.call == SYS_unlinkat ? "at the deletion" : "at the change into SUB");
    ScopedTree tree(c.entries);
    BackgroundProcess kelvo(CommandFor(TheTarget().kelvo, c.args), ChildEnvironment(), tree.path(),
                            false, {}, true);
    ASSERT_TRUE(kelvo.SignalAtCall(c.call, SIGINT)) << "ended before the call, or not traced";
    int status = 0;
    RunResult run = kelvo.Finish(kRunSeconds, &status);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "exit " << run.exitCode;
    Transcript expected;
    expected.Banner().Offer(tree, "A.EXE", 0);
    if (c.call == SYS_fchdir) expected.CannotRemove(tree, "A.EXE");
    EXPECT_TRUE(SameOutput(run, expected.Line("").Line("Программа остановлена по Ctrl-Break.")));
    EXPECT_EQ(tree.Left(), c.left);
  }
}

}  // namespace
}  // namespace e2e
