#include "terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "process.h"
#include "runner.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// What a terminal child needs: a UTF-8 locale, whatever the test runs under.
std::vector<std::string> TerminalEnvironment() {
  return ChildEnvironment({"LANG=C.UTF-8", "LC_ALL", "LC_CTYPE", "TERM=xterm"});
}

// Lines without CR and trailing spaces; blank lines at the end dropped.
std::string CleanScreen(std::string_view raw) {
  std::string text;
  for (char c : raw)
    if (c != '\r') text += c;
  std::string lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    line.erase(line.find_last_not_of(' ') + 1);
    lines += line + "\n";
    start = end + 1;
  }
  while (lines.ends_with("\n\n")) lines.pop_back();
  if (lines == "\n") lines.clear();
  return lines;
}

// Natively: a pseudo terminal the program reads its keys from.
class PtyRun : public TerminalRun {
 public:
  PtyRun(const ScopedTree& dir, const std::vector<std::string>& args,
         const TerminalStreams& streams) {
    const bool controlling = streams.controlling;
    std::vector<std::string> command = CommandFor(TheTarget().kelvo, args);
    std::vector<std::string> env = TerminalEnvironment();
    std::vector<char*> argv = CStrings(command);
    std::vector<char*> envp = CStrings(env);
    struct winsize size = {50, 200, 0, 0};
    char slaveName[256];
    // The slave opened apart is never a controlling terminal: the child
    // gets a session of its own without one.
    if (!controlling && openpty(&master_, &slave_, slaveName, nullptr, &size) != 0)
      throw std::runtime_error("openpty failed");
    pid_ = controlling ? forkpty(&master_, slaveName, nullptr, &size) : fork();
    if (pid_ == 0) {
      if (!controlling && (setsid() < 0 || dup2(slave_, 0) < 0 || dup2(slave_, 1) < 0 ||
                           dup2(slave_, 2) < 0 || close(slave_) != 0 || close(master_) != 0))
        _exit(126);
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      if (!streams.outputFile.empty() && !RedirectTo(streams.outputFile, 1)) _exit(126);
      if (!streams.errorFile.empty() && !RedirectTo(streams.errorFile, 2)) _exit(126);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (pid_ < 0) throw std::runtime_error("fork failed");
    fcntl(master_, F_SETFL, O_NONBLOCK);
    // The terminal's mode is the slave side's; the master has its own.
    if (controlling) slave_ = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }

  ~PtyRun() override {
    if (!exitCode_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(slave_);
    if (master_ >= 0) close(master_);
  }

  // A key is typed only while the terminal echoes nothing (the program has
  // left line mode to wait for a key), or the terminal would show the key
  // itself; then it waits until the program has read it.
  void Type(std::string_view keys) override {
    for (char key : keys) {
      WaitUntil([&] {
        struct termios mode;
        return tcgetattr(slave_, &mode) == 0 && (mode.c_lflag & (ICANON | ECHO)) == 0;
      });
      if (write(master_, &key, 1) != 1) throw std::runtime_error("cannot type into the pty");
      WaitUntil([&] {
        int unread = 0;
        return ioctl(slave_, FIONREAD, &unread) == 0 && unread == 0;
      });
    }
  }

  std::string Screen() override {
    Pump();
    return CleanScreen(output_);
  }

  std::optional<int> Ended() override {
    int status;
    if (!exitCode_ && waitpid(pid_, &status, WNOHANG) == pid_) exitCode_ = ExitCodeOf(status);
    Pump();
    return exitCode_;
  }

  void HangUp() override {
    Pump();
    close(master_);
    master_ = -1;
  }

 private:
  // In the child, before exec: async-signal-safe calls only.
  static bool RedirectTo(const std::string& file, int stream) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd >= 0 && dup2(fd, stream) == stream && close(fd) == 0;
  }

  void Pump() {
    char buffer[4096];
    ssize_t n;
    if (master_ < 0) return;
    while ((n = read(master_, buffer, sizeof buffer)) > 0)
      output_.append(buffer, static_cast<size_t>(n));
  }

  template <typename Condition>
  static void WaitUntil(Condition ready) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!ready() && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  pid_t pid_ = -1;
  int master_ = -1;
  int slave_ = -1;
  std::string output_;
  std::optional<int> exitCode_;
};

// Under Wine: a detached tmux session on a private socket, its pane kept
// after the program ends so the last screen can still be read.
class TmuxRun : public TerminalRun {
 public:
  TmuxRun(const ScopedTree& dir, const std::vector<std::string>& args,
          const TerminalStreams& streams)
      : scratch_({"tmux.conf=set -g remain-on-exit on\nset -g history-limit 5000\n"}) {
    std::vector<std::string> start = {"-f", scratch_.PathOf("tmux.conf"), "new-session", "-d"};
    start.insert(start.end(), {"-x", "200", "-y", "50", "-c", dir.path()});
    std::vector<std::string> command = CommandFor(TheTarget().kelvo, args);
    // A shell sets the files up, as for the user, and waits for the run to
    // keep its exit status: tmux, here, at times never learns that the
    // pane's process ended (the process stays a zombie, unreaped).
    // It outlives a Ctrl-C typed to the run, by a handler the run does not
    // inherit.
    std::string run = "trap : INT; \"$@\"";
    if (!streams.outputFile.empty()) run += " >" + ShellWord(streams.outputFile);
    if (!streams.errorFile.empty()) run += " 2>" + ShellWord(streams.errorFile);
    const std::string status = ShellWord(scratch_.PathOf("status"));
    run += "; echo $? >" + status + ".part && mv " + status + ".part " + status;
    command.insert(command.begin(), {"sh", "-c", run, "sh"});
    start.insert(start.end(), command.begin(), command.end());
    RunResult started = Tmux(start);
    if (started.exitCode != 0) throw std::runtime_error("tmux did not start: " + started.err);
  }

  ~TmuxRun() override { Tmux({"kill-server"}); }

  void HangUp() override { Tmux({"kill-session"}); }

  void Type(std::string_view keys) override {
    for (char key : keys) Tmux({"send-keys", "-l", std::string(1, key)});
  }

  std::string Screen() override {
    std::string screen = CleanScreen(Tmux({"capture-pane", "-p", "-S", "-"}).out);
    // tmux's own note on a pane whose program has ended.
    size_t dead = screen.find("\nPane is dead");
    if (dead != std::string::npos) screen.erase(dead + 1);
    return CleanScreen(screen);
  }

  std::optional<int> Ended() override {
    std::string state =
        Tmux({"display-message", "-p", "#{pane_dead} #{pane_dead_status} #{pane_dead_signal}"}).out;
    // Dead once tmux read all the run wrote.
    if (!state.starts_with("1 ")) return std::nullopt;
    // As the shell tells it, a run a signal ended has 128 and the signal's
    // number; a hang-up ends the shell too, before it could keep anything.
    std::ifstream kept(scratch_.PathOf("status"));
    if (int code = 0; kept >> code) return code;
    // A pane whose program a signal ended has a signal and no status.
    int number = 0;
    bool noStatus = state.size() > 2 && state[2] == ' ';
    // Just after the end tmux may show the pane dead before its status.
    if (sscanf(state.c_str() + 2, "%d", &number) != 1) return std::nullopt;
    return noStatus ? 128 + number : number;
  }

 private:
  static std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
  }

  RunResult Tmux(std::vector<std::string> args) {
    args.insert(args.begin(), {"tmux", "-S", scratch_.PathOf("socket")});
    return RunProcess(args, TerminalEnvironment(), "/", std::nullopt, 30);
  }

  ScopedTree scratch_;  // the socket and the configuration
};

}  // namespace

bool TerminalRun::WaitFor(std::string_view utf8, int count, double seconds) {
  auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (Occurrences(Screen(), utf8) < count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

int TerminalRun::Finish(double seconds) {
  auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    if (std::optional<int> code = Ended()) return *code;
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::unique_ptr<TerminalRun> StartAtTerminal(const ScopedTree& dir,
                                             const std::vector<std::string>& args,
                                             const TerminalStreams& streams) {
  if (UnderWine()) return std::make_unique<TmuxRun>(dir, args, streams);
  return std::make_unique<PtyRun>(dir, args, streams);
}

int Occurrences(std::string_view text, std::string_view part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

}  // namespace e2e
