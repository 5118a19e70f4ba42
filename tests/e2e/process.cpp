#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

void SleepMilliseconds(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

// Starts `argv` with its standard streams on `in`, `out` and `err`; the
// child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& cwd, int in, int out, int err, bool noCore) {
  std::vector<char*> args = CStrings(argv);
  std::vector<char*> vars = CStrings(env);
  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    struct rlimit none = {0, 0};
    if (noCore && setrlimit(RLIMIT_CORE, &none) != 0) _exit(126);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (chdir(cwd.c_str()) != 0) _exit(126);
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

std::optional<int> WaitWithTimeout(int pid, int timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  long pause = 1;
  while (true) {
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
    result.err = ReadAll(err) + "\n[killed after " + std::to_string(timeoutSeconds) + " s]";
  }
  close(out);
  close(err);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env, const std::string& cwd) {
  int keys[2];
  if (pipe2(keys, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  keys_ = keys[1];
  out_ = AnonymousFile();
  err_ = AnonymousFile();
  pid_ = Spawn(argv, env, cwd, keys[0], out_, err_, true);
  close(keys[0]);
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
  // The key pipe as /proc names it, whichever descriptor the child reads it
  // through: Wine reads a duplicate of descriptor 0.
  struct stat pipeStat;
  if (fstat(keys_, &pipeStat) != 0) return false;
  const std::string keyPipe = "pipe:[" + std::to_string(pipeStat.st_ino) + "]";
  // A blocked task's system call number, in its own ABI (kelvo.exe runs as a
  // 32-bit process, where read is 3), and first argument, the descriptor.
  constexpr long kI386Read = 3;
  const std::string proc = "/proc/" + std::to_string(pid_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = open((proc + "/syscall").c_str(), O_RDONLY | O_CLOEXEC);
    std::string state = fd < 0 ? "" : ReadAll(fd);
    if (fd >= 0) close(fd);
    long number = -1;
    unsigned long descriptor = 0;
    if (sscanf(state.c_str(), "%ld %lx", &number, &descriptor) == 2 &&
        (number == SYS_read || number == kI386Read)) {
      char link[64];
      std::string fdPath = proc + "/fd/" + std::to_string(descriptor);
      ssize_t n = readlink(fdPath.c_str(), link, sizeof link);
      if (n > 0 && std::string_view(link, static_cast<size_t>(n)) == keyPipe) return true;
    }
    SleepMilliseconds(2);
  }
  return false;
}

RunResult BackgroundProcess::Finish(int timeoutSeconds, int* status) {
  close(keys_);
  keys_ = -1;
  std::optional<int> waited = WaitWithTimeout(pid_, timeoutSeconds);
  reaped_ = true;
  RunResult result;
  result.out = ReadAll(out_);
  result.err = ReadAll(err_);
  if (waited) {
    result.exitCode = ExitCodeOf(*waited);
    if (status != nullptr) *status = *waited;
  } else {
    result.err += "\n[killed after " + std::to_string(timeoutSeconds) + " s]";
  }
  return result;
}

}  // namespace e2e
