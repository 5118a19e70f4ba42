// Child processes for the end-to-end tests: started with every standard
// stream redirected, so nothing a child leaves running (Wine's services, a
// tmux server) can hold the test program's own output open.
#pragma once

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

// Waits for `pid` at most `timeoutSeconds`; the wait status, or nothing when
// the child outlasted the time (it is then killed and reaped).
std::optional<int> WaitWithTimeout(int pid, int timeoutSeconds);
// The exit code a wait status stands for: 128 + signal when killed.
int ExitCodeOf(int status);

// Where temporary files and trees go: $TMPDIR, or /tmp.
std::string TemporaryRoot();

// A child the test watches while it runs: its standard input is a pipe the
// test keeps open, so the child can be caught waiting for a key and then be
// sent a signal. Output and errors go to files; core dumps are off, so a
// signal that would leave one leaves nothing in the child's directory.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& cwd);
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
  // Closes the pipe and waits for the end; `status` gets the wait status.
  RunResult Finish(int timeoutSeconds, int* status = nullptr);

 private:
  int pid_ = -1;
  int keys_ = -1;  // the pipe's write end
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
};

// Pointer arrays for exec, over strings that outlive them.
std::vector<char*> CStrings(const std::vector<std::string>& strings);

}  // namespace e2e
