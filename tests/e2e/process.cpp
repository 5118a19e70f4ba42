#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
  std::vector<char*> args = CStrings(argv);
  std::vector<char*> vars = CStrings(env);

  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execvpe(args[0], args.data(), vars.data());
    _exit(127);
  }
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

}  // namespace e2e
