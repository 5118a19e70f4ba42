// Console, keys, arguments and the interrupt on POSIX. Signals play the part
// of console control events; the handler runs on the main thread, so the stop
// gate defers it while the main flow is inside a guarded step.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "common/cp866.h"
#include "platform/core/freshness.h"
#include "platform/platform.h"
#include "platform/posix/quoting.h"

void StartFileSystem(const char* argv0);

namespace {

std::vector<std::string> arguments;

// Each code page 866 byte as the terminal's character set spells it; built
// once, so the break handler converts without calling iconv.
char terminalText[256][8];
unsigned char terminalLength[256];
bool terminalTableBuilt = false;
// The terminal reads UTF-8 (so does one in a plain-ASCII locale).
bool terminalUtf8 = true;

// Where the questions are shown too, when standard output goes elsewhere.
int keyTerminal = -1;

bool localeUtf8 = false;
bool utf8Text = false;
volatile sig_atomic_t withoutWaiting = 0;

bool termiosSaved = false;
struct termios savedTermios;
volatile sig_atomic_t termiosChanged = 0;

BreakHandler breakHandler = nullptr;
// The stop signals, and those of them the caller had set to be ignored
// when the program started: nohup's SIGHUP, a background job's SIGINT and
// SIGQUIT. Those stay ignored, as the caller asked.
constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
sigset_t ignoredAtStart;
volatile sig_atomic_t gateDepth = 0;
volatile sig_atomic_t pendingSignal = 0;

// A pipe that polls writable has room for a write of PIPE_BUF bytes, more
// than the stop message takes, so that write goes at once.
bool WouldWait(int fd) {
  struct pollfd out = {fd, POLLOUT, 0};
  return poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0;
}

// A write that had to wait (a pipe nobody read for a while) counts as a
// wait: what was read of the tree before it is read again.
bool WriteAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    if (withoutWaiting && WouldWait(fd)) return true;
    if (writesWatched && WouldWait(fd)) NoteWaited();
    int64_t began = MonotonicMs();
    ssize_t n = write(fd, bytes, count);
    if (MonotonicMs() - began > kWaitedMs) NoteWaited();
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool IsUtf8(const char* codeset) {
  return codeset != nullptr &&
         (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

void BuildTerminalTable() {
  const char* codeset = nl_langinfo(CODESET);
  // A plain-ASCII locale cannot show Russian at all; today's terminals read
  // UTF-8, so that is what it gets.
  if (codeset == nullptr || strcmp(codeset, "ANSI_X3.4-1968") == 0) codeset = "UTF-8";
  terminalUtf8 = IsUtf8(codeset);
  terminalTableBuilt = true;
  iconv_t cd = iconv_open(codeset, "CP866");
  for (int b = 0; b < 256; ++b) {
    terminalText[b][0] = static_cast<char>(b);
    terminalLength[b] = 1;
    if (b < 0x80 || cd == reinterpret_cast<iconv_t>(-1)) continue;
    char in = static_cast<char>(b);
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = terminalText[b];
    size_t outLeft = sizeof terminalText[b];
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      terminalText[b][0] = '?';
      terminalLength[b] = 1;
    } else {
      terminalLength[b] = static_cast<unsigned char>(sizeof terminalText[b] - outLeft);
    }
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

// Message text converted for the terminal, in pieces, through the table:
// no allocation, as the break handler writes through here.
bool WriteTerminalText(int fd, const char* bytes, size_t count) {
  char out[256];
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (used + 8 > sizeof out) {
      if (!WriteAll(fd, out, used)) return false;
      used = 0;
    }
    memcpy(out + used, terminalText[b], terminalLength[b]);
    used += terminalLength[b];
  }
  return WriteAll(fd, out, used);
}

void RestoreTerminal() {
  if (termiosChanged) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
    termiosChanged = 0;
  }
}

uint32_t EventFor(int sig) {
  switch (sig) {
    case SIGINT: return 0;   // CTRL_C_EVENT
    case SIGQUIT: return 1;  // CTRL_BREAK_EVENT
    case SIGHUP: return 2;   // CTRL_CLOSE_EVENT
    default: return 6;       // CTRL_SHUTDOWN_EVENT
  }
}

void RunBreak(int sig) {
  RestoreTerminal();
  if (breakHandler != nullptr && breakHandler(EventFor(sig))) return;
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

void OnSignal(int sig) {
  if (gateDepth > 0) {
    pendingSignal = sig;
    return;
  }
  RunBreak(sig);
}

}  // namespace

void StartPlatform(int argc, char** argv) {
  sigemptyset(&ignoredAtStart);
  for (int sig : kStopSignals) {
    struct sigaction inherited;
    if (sigaction(sig, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
      sigaddset(&ignoredAtStart, sig);
  }
  // Whoever started the program may have left SIGPIPE ignored. Its default
  // ends the run once nobody reads the output, as it ends any filter, so no
  // file goes that nobody saw announced.
  signal(SIGPIPE, SIG_DFL);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigprocmask(SIG_UNBLOCK, &pipeSignal, nullptr);
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  StartFileSystem(argc > 0 ? argv[0] : nullptr);
  setlocale(LC_CTYPE, "");
  localeUtf8 = IsUtf8(nl_langinfo(CODESET));
  if (isatty(STDOUT_FILENO))
    BuildTerminalTable();
  else
    utf8Text = localeUtf8;
}

const char* RawCommandLine() { return nullptr; }

std::vector<std::string> SplitArguments() { return arguments; }

bool StdOutIsConsole() { return isatty(STDOUT_FILENO) != 0; }

bool StdOutTakesUtf8Text() { return utf8Text; }

bool WriteStdOut(const char* bytes, size_t count) { return WriteAll(STDOUT_FILENO, bytes, count); }

bool WriteConsoleMessage(const char* bytes, size_t count) {
  return WriteTerminalText(STDOUT_FILENO, bytes, count);
}

bool WriteConsoleName(const char* bytes, size_t count) {
  std::string shown = QuotedForTerminal(std::string_view(bytes, count), terminalUtf8);
  return WriteAll(STDOUT_FILENO, shown.data(), shown.size());
}

bool OpenKeyTerminal() {
  if (!isatty(STDIN_FILENO) || isatty(STDOUT_FILENO)) return false;
  struct stat in, err;
  if (isatty(STDERR_FILENO) && fstat(STDIN_FILENO, &in) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
      in.st_rdev == err.st_rdev) {
    keyTerminal = STDERR_FILENO;
  } else {
    // Standard input as the controlling terminal, or by the name of its own.
    const char* name = tcgetsid(STDIN_FILENO) == getsid(0) ? "/dev/tty" : ttyname(STDIN_FILENO);
    if (name != nullptr) keyTerminal = open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  if (keyTerminal < 0) return false;
  if (!terminalTableBuilt) BuildTerminalTable();
  return true;
}

void WriteKeyTerminalMessage(const char* bytes, size_t count) {
  if (keyTerminal >= 0) WriteTerminalText(keyTerminal, bytes, count);
}

void WriteKeyTerminalName(const char* bytes, size_t count) {
  if (keyTerminal < 0) return;
  std::string shown = QuotedForTerminal(std::string_view(bytes, count), terminalUtf8);
  WriteAll(keyTerminal, shown.data(), shown.size());
}

void OutputWithoutWaiting() { withoutWaiting = 1; }

void WriteErrorLine(const char* bytes, size_t count) {
  if (isatty(STDERR_FILENO)) {
    if (!terminalTableBuilt) BuildTerminalTable();
    WriteTerminalText(STDERR_FILENO, bytes, count);
    WriteAll(STDERR_FILENO, "\r\n", 2);
    return;
  }
  std::string line;
  for (size_t i = 0; i < count; ++i) {
    char utf8[2];
    if (localeUtf8)
      line.append(utf8, Utf8FromCp866(static_cast<unsigned char>(bytes[i]), utf8));
    else
      line += bytes[i];
  }
  line += localeUtf8 ? "\n" : "\r\n";
  WriteAll(STDERR_FILENO, line.data(), line.size());
}

// A key read, or a wait for one, is a wait: what was read of the tree before
// it is read again. Input at its end answers at once and reads no key.
bool ReadKeyPress(char& key) {
  int64_t began = MonotonicMs();
  bool terminal = isatty(STDIN_FILENO) != 0;
  if (terminal) {
    if (!termiosSaved) {
      if (tcgetattr(STDIN_FILENO, &savedTermios) != 0) terminal = false;
      termiosSaved = terminal;
    }
  }
  if (terminal) {
    struct termios raw = savedTermios;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    termiosChanged = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &key, 1);
  } while (n < 0 && errno == EINTR);
  if (terminal) RestoreTerminal();
  if (n == 1 || MonotonicMs() - began > kWaitedMs) NoteWaited();
  return n == 1;
}

bool SetConsoleCtrlHandler(BreakHandler handler, bool add) {
  breakHandler = add ? handler : nullptr;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = add ? OnSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig : kStopSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kStopSignals)
    if (!sigismember(&ignoredAtStart, sig) && sigaction(sig, &action, nullptr) != 0) return false;
  return true;
}

void EnterStopGate() { gateDepth = gateDepth + 1; }

void LeaveStopGate() {
  gateDepth = gateDepth - 1;
  if (gateDepth == 0 && pendingSignal != 0) {
    int sig = pendingSignal;
    pendingSignal = 0;
    RunBreak(sig);
  }
}
