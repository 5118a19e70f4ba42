#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

// An anonymous temporary file: made, opened and unlinked at once, so no run
// leaves one behind.
int AnonymousFile() {
  std::string pattern = TemporaryRoot() + "/kelvo-e2e-io-XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot make a temporary file: " + pattern);
  unlink(pattern.c_str());
  return fd;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char buffer[4096];
  off_t offset = 0;
  ssize_t n;
  while ((n = pread(fd, buffer, sizeof buffer, offset)) > 0) {
    bytes.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return bytes;
}

// The test in which a child outlasted its time: its later waits are cut
// short.
const ::testing::TestInfo* hungTest = nullptr;

const ::testing::TestInfo* CurrentTest() {
  return ::testing::UnitTest::GetInstance()->current_test_info();
}

int LimitInThisTest(int seconds) {
  return CurrentTest() != nullptr && CurrentTest() == hungTest ? std::min(seconds, 1) : seconds;
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string command;
  for (const std::string& word : argv) command += (command.empty() ? "" : " ") + word;
  return command;
}

// The note a killed child leaves in its result; outside a test (starting
// Wine) the caller reports.
std::string Killed(const std::string& command, int seconds) {
  if (CurrentTest() != nullptr) {
    hungTest = CurrentTest();
    ADD_FAILURE() << "still running after " << seconds << " s, killed: " << command;
  }
  return "\n[killed after " + std::to_string(seconds) + " s]";
}

void SleepMilliseconds(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

// Starts `argv` with its standard streams on `in`, `out` and `err`; the
// child's pid, or -1.
// `ignored`: signals the child starts with set to be ignored.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& cwd, int in, int out, int err, bool noCore,
            const std::vector<int>& ignored = {}, bool traced = false) {
  std::vector<char*> args = CStrings(argv);
  std::vector<char*> vars = CStrings(env);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction byDefault = {};
  byDefault.sa_handler = SIG_DFL;
  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    struct rlimit none = {0, 0};
    if (noCore && setrlimit(RLIMIT_CORE, &none) != 0) _exit(126);
    // A suite started in the background has these ignored, which the child
    // would keep: it starts as a foreground program does, unless told.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM})
      if (sigaction(sig, &byDefault, nullptr) != 0) _exit(126);
    for (int sig : ignored)
      if (sigaction(sig, &ignore, nullptr) != 0) _exit(126);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
    execvpe(args[0], args.data(), vars.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

std::string TemporaryRoot() {
  const char* tmp = getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

std::vector<char*> CStrings(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const std::string& change : changes) {
    std::string name = change.substr(0, change.find('='));
    std::erase_if(env, [&](const std::string& v) { return v.starts_with(name + "="); });
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  return env;
}

std::optional<int> WaitWithTimeout(int pid, int timeoutSeconds,
                                   const std::function<void()>& meanwhile) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  long pause = 1;
  while (true) {
    if (meanwhile) meanwhile();
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    SleepMilliseconds(pause);
    if (pause < 20) pause *= 2;
  }
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& cwd, const std::optional<std::string>& input,
                     int timeoutSeconds) {
  int in = -1;
  if (input) {
    in = AnonymousFile();
    if (write(in, input->data(), input->size()) != static_cast<ssize_t>(input->size()))
      throw std::runtime_error("cannot write the keys file");
    lseek(in, 0, SEEK_SET);
  } else {
    in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  int out = AnonymousFile();
  int err = AnonymousFile();
  timeoutSeconds = LimitInThisTest(timeoutSeconds);
  pid_t pid = Spawn(argv, env, cwd, in, out, err, false);
  close(in);
  RunResult result;
  if (pid < 0) {
    result.err = std::string("fork failed: ") + strerror(errno);
  } else if (std::optional<int> status = WaitWithTimeout(pid, timeoutSeconds)) {
    result.exitCode = ExitCodeOf(*status);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
  } else {
    result.out = ReadAll(out);
    result.err = ReadAll(err) + Killed(Joined(argv), timeoutSeconds);
  }
  close(out);
  close(err);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env, const std::string& cwd,
                                     bool outputPipe, const std::vector<int>& ignored,
                                     bool traced)
    : outputPipe_(outputPipe), command_(Joined(argv)) {
  int keys[2];
  if (pipe2(keys, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  keys_ = keys[1];
  int childOut = -1;
  if (outputPipe) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    // The smallest a pipe can be: a few lines fill it.
    fcntl(out[0], F_SETPIPE_SZ, 4096);
    out_ = out[0];
    childOut = out[1];
  } else {
    out_ = childOut = AnonymousFile();
  }
  err_ = AnonymousFile();
  pid_ = Spawn(argv, env, cwd, keys[0], childOut, err_, true, ignored, traced);
  close(keys[0]);
  if (outputPipe) close(childOut);
  if (pid_ < 0) throw std::runtime_error(std::string("fork failed: ") + strerror(errno));
}

BackgroundProcess::~BackgroundProcess() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {keys_, out_, err_})
    if (fd >= 0) close(fd);
}

void BackgroundProcess::Send(std::string_view bytes) {
  if (write(keys_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot write into the child's standard input");
}

bool BackgroundProcess::WaitUntilReading(int seconds) {
  constexpr long kI386Read = 3;
  return WaitUntilBlockedOn(keys_, SYS_read, kI386Read, seconds);
}

bool BackgroundProcess::WaitUntilWriting(int seconds) {
  constexpr long kI386Write = 4;
  return outputPipe_ && WaitUntilBlockedOn(out_, SYS_write, kI386Write, seconds);
}

bool BackgroundProcess::WaitUntilBlockedOn(int pipeEnd, long call, long i386Call, int seconds) {
  // The pipe as /proc names it, whichever descriptor the child uses it
  // through: Wine reads and writes duplicates of descriptors 0 and 1.
  struct stat pipeStat;
  if (fstat(pipeEnd, &pipeStat) != 0) return false;
  const std::string watched = "pipe:[" + std::to_string(pipeStat.st_ino) + "]";
  // A blocked task's system call number, in its own ABI (kelvo.exe may run
  // as a 32-bit process), and first argument, the descriptor.
  const std::string proc = "/proc/" + std::to_string(pid_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int stable = 0;  // samples in a row seen in the write with the pipe unchanged
  int lastHeld = -1;
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = open((proc + "/syscall").c_str(), O_RDONLY | O_CLOEXEC);
    std::string state = fd < 0 ? "" : ReadAll(fd);
    if (fd >= 0) close(fd);
    long number = -1;
    unsigned long descriptor = 0;
    bool in = false;
    if (sscanf(state.c_str(), "%ld %lx", &number, &descriptor) == 2 &&
        (number == call || number == i386Call)) {
      char link[64];
      std::string fdPath = proc + "/fd/" + std::to_string(descriptor);
      ssize_t n = readlink(fdPath.c_str(), link, sizeof link);
      in = n > 0 && std::string_view(link, static_cast<size_t>(n)) == watched;
    }
    // A read of the empty key pipe can only block. A write may be seen in
    // progress on a loaded machine without being blocked: it is, once the
    // pipe holds bytes that stay as they are while it stays in the call.
    int held = -1;
    if (in && call == SYS_write && ioctl(pipeEnd, FIONREAD, &held) != 0) held = -1;
    if (in && call != SYS_write) return true;
    stable = in && held > 0 && held == lastHeld ? stable + 1 : 0;
    lastHeld = in ? held : -1;
    if (stable >= 10) return true;
    SleepMilliseconds(2);
  }
  return false;
}

bool BackgroundProcess::WaitUntilSettled(int seconds) {
  const std::string proc = "/proc/" + std::to_string(pid_);
  auto settled = [&] {
    int fd = open((proc + "/status").c_str(), O_RDONLY | O_CLOEXEC);
    std::string status = fd < 0 ? "" : ReadAll(fd);
    if (fd >= 0) close(fd);
    for (const char* pending : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
      size_t at = status.find(pending);
      if (at == std::string::npos ||
          strtoull(status.c_str() + at + strlen(pending), nullptr, 16) != 0)
        return false;
    }
    DIR* tasks = opendir((proc + "/task").c_str());
    if (tasks == nullptr) return false;
    bool asleep = true;
    while (struct dirent* task = readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      fd = open((proc + "/task/" + task->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
      std::string stat = fd < 0 ? "" : ReadAll(fd);
      if (fd >= 0) close(fd);
      // The state follows the command name in parentheses.
      size_t name = stat.rfind(") ");
      if (name != std::string::npos && stat.compare(name + 2, 1, "R") == 0) asleep = false;
    }
    closedir(tasks);
    return asleep;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int quiet = 0;
  while (quiet < 50) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    quiet = settled() ? quiet + 1 : 0;
    SleepMilliseconds(2);
  }
  return true;
}

bool BackgroundProcess::WaitUntilEnded(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info = {};
    if (waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
      return true;
    SleepMilliseconds(2);
  }
  return false;
}

std::string BackgroundProcess::OutputSoFar() {
  if (!outputPipe_) return ReadAll(out_);
  int flags = fcntl(out_, F_GETFL);
  fcntl(out_, F_SETFL, flags | O_NONBLOCK);
  char buffer[4096];
  ssize_t n;
  while ((n = read(out_, buffer, sizeof buffer)) > 0) taken_.append(buffer, static_cast<size_t>(n));
  fcntl(out_, F_SETFL, flags);
  return taken_;
}

RunResult BackgroundProcess::Finish(int timeoutSeconds, int* status) {
  close(keys_);
  keys_ = -1;
  RunResult result;
  result.out = taken_;
  auto drain = [&] {
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0)
      result.out.append(buffer, static_cast<size_t>(n));
  };
  // Not read to its end: a process Wine started may hold the pipe open.
  if (outputPipe_) fcntl(out_, F_SETFL, O_NONBLOCK);
  timeoutSeconds = LimitInThisTest(timeoutSeconds);
  std::optional<int> waited =
      WaitWithTimeout(pid_, timeoutSeconds, outputPipe_ ? std::function<void()>(drain) : nullptr);
  reaped_ = true;
  if (outputPipe_)
    drain();
  else
    result.out = ReadAll(out_);
  result.err = ReadAll(err_);
  if (waited) {
    result.exitCode = ExitCodeOf(*waited);
    if (status != nullptr) *status = *waited;
  } else {
    result.err += Killed(command_, timeoutSeconds);
  }
  return result;
}

}  // namespace e2e
