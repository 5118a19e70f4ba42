// Child processes for the end-to-end tests: started with every standard
// stream redirected, so nothing a child leaves running (Wine's services, a
// tmux server) can hold the test program's own output open.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

struct RunResult {
  int exitCode = -1;  // 128 + signal when killed by a signal
  std::string out;    // standard output, bytes as written
  std::string err;    // standard error, for diagnostics only
};

// The most one run of the build under test may take. A child of a test that
// outlasts its time is killed and fails the test, naming its command; the
// rest of that test then waits a second at most for each child, so a hang
// costs one limit, not one per run.
constexpr int kRunSeconds = 30;

// Runs `argv` (looked up on PATH) in directory `cwd` with environment `env`
// ("NAME=value" each). Standard input is `input` from a file, or /dev/null;
// standard output and error go to files. A child still running after
// `timeoutSeconds` is killed, and the result says so in `err`.
RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& cwd, const std::optional<std::string>& input,
                     int timeoutSeconds);

// The current environment with `changes` applied: "NAME=value" sets, a bare
// "NAME" removes.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes);

// Waits for `pid` at most `timeoutSeconds`, calling `meanwhile` between
// looks; the wait status, or nothing when the child outlasted the time (it is
// then killed and reaped).
std::optional<int> WaitWithTimeout(int pid, int timeoutSeconds,
                                   const std::function<void()>& meanwhile = {});
// The exit code a wait status stands for: 128 + signal when killed.
int ExitCodeOf(int status);

// Where temporary files and trees go: $TMPDIR, or /tmp.
std::string TemporaryRoot();

// A child the test watches while it runs: its standard input is a pipe the
// test keeps open, so the child can be caught waiting for a key and then be
// sent a signal. Output and errors go to files; core dumps are off, so a
// signal that would leave one leaves nothing in the child's directory.
// With `outputPipe` standard output is instead a pipe of one page that the
// test reads only in Finish, so the child can be caught blocked writing.
// The signals in `ignored` are set to be ignored when the child starts, as
// nohup and a shell's background job leave them. A `traced` child (natively
// only) stops at its start until SignalAtCall.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& cwd, bool outputPipe = false,
                    const std::vector<int>& ignored = {}, bool traced = false);
  // Kills and reaps a child still running.
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  int pid() const { return pid_; }
  void Send(std::string_view bytes);
  // Waits until the child sits blocked reading the pipe of its standard
  // input, through any descriptor (as Linux's /proc shows it); false after
  // `seconds`.
  bool WaitUntilReading(int seconds = 10);
  // Waits until the child sits blocked writing into the full output pipe.
  bool WaitUntilWriting(int seconds = 10);
  // Waits until no signal is pending for the child and each of its threads
  // has been asleep for a tenth of a second: whatever handles a signal sent
  // to it (under Wine a thread of its own) has run or is waiting.
  bool WaitUntilSettled(int seconds = 10);
  // Waits until the child has ended, neither reaping it nor reading its
  // output; false after `seconds`.
  bool WaitUntilEnded(double seconds);
  // For a traced child: runs it until its main thread first enters system
  // call `call` (a SYS_ number), sends that thread `sig` there and lets the
  // child go on untraced: the signal comes while the call is under way, and
  // arrives as it returns. False when the child ended first.
  bool SignalAtCall(long call, int sig);
  // What the child has written so far, without waiting for more.
  std::string OutputSoFar();
  // Closes the key pipe and waits for the end, reading the output pipe
  // meanwhile; `status` gets the wait status. The output is all the child
  // wrote, what OutputSoFar took included.
  RunResult Finish(int timeoutSeconds, int* status = nullptr);

 private:
  bool WaitUntilBlockedOn(int pipeEnd, long call, long i386Call, int seconds);

  int pid_ = -1;
  int keys_ = -1;  // the pipe's write end
  int out_ = -1;   // a file, or the output pipe's read end
  bool outputPipe_ = false;
  std::string taken_;  // read off the output pipe by OutputSoFar
  int err_ = -1;
  bool reaped_ = false;
  std::string command_;  // for the report of a child killed
};

// Pointer arrays for exec, over strings that outlive them.
std::vector<char*> CStrings(const std::vector<std::string>& strings);

}  // namespace e2e
