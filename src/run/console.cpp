#include "run/console.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/cp866.h"
#include "common/names.h"
#include "platform/platform.h"
#include "run/messages.h"

namespace {

constexpr size_t kBufferSize = 128;

// Text waits here only until its line ends. The break handler never reads
// it, so the main flow fills and writes it without holding the stop gate,
// and an interrupt that comes while a write blocks need not wait for it.
char buffer[kBufferSize];
size_t used = 0;
bool console = false;
bool utf8Text = false;
bool inputEnded = false;

// Where standard output does not reach the terminal the keys are typed at,
// the line under way and the one before it are kept, message text and names
// apart, so that a question and the announcement it asks about can be shown
// there in the terminal's own form.
bool keyTerminal = false;
struct Piece {
  bool name;
  std::string bytes;
};
std::vector<Piece> lineBefore;
std::vector<Piece> lineNow;

void Keep(bool name, std::string_view bytes) {
  if (!keyTerminal) return;
  if (!name && !lineNow.empty() && !lineNow.back().name)
    lineNow.back().bytes += bytes;
  else
    lineNow.push_back({name, std::string(bytes)});
}

void ShowAtKeyTerminal(const std::vector<Piece>& line) {
  for (const Piece& piece : line)
    (piece.name ? WriteKeyTerminalName : WriteKeyTerminalMessage)(piece.bytes.data(),
                                                                   piece.bytes.size());
}

// What was not written may be an announcement: no file may go after it.
[[noreturn]] void OutputFailed() {
  SettleRemovals();
  WriteErrorLine(text::kCannotWrite.bytes, text::kCannotWrite.length);
  std::_Exit(2);
}

void WriteOut() {
  if (used == 0) return;
  bool written = console ? WriteConsoleMessage(buffer, used) : WriteStdOut(buffer, used);
  used = 0;
  if (!written) OutputFailed();
}

void Append(const char* bytes, size_t count) {
  while (count > 0) {
    if (used == kBufferSize) WriteOut();
    size_t n = kBufferSize - used < count ? kBufferSize - used : count;
    memcpy(buffer + used, bytes, n);
    used += n;
    bytes += n;
    count -= n;
  }
}

// Message text in the form standard output takes, added to `out` as far as
// `capacity` allows; no allocation, as the break handler writes through here.
size_t MessageText(std::string_view message, char* out, size_t capacity) {
  size_t n = 0;
  for (char c : message) {
    char utf8[2];
    size_t length = utf8Text ? Utf8FromCp866(static_cast<unsigned char>(c), utf8) : 1;
    if (!utf8Text) utf8[0] = c;
    if (n + length > capacity) break;
    memcpy(out + n, utf8, length);
    n += length;
  }
  return n;
}

std::string_view LineEnd() { return utf8Text ? "\n" : "\r\n"; }

// Message text to standard output only.
void Put(std::string_view message) {
  char text[2 * kBufferSize];
  while (!message.empty()) {
    std::string_view piece = message.substr(0, kBufferSize);
    Append(text, MessageText(piece, text, sizeof text));
    message.remove_prefix(piece.size());
  }
}

}  // namespace

void StartConsole() {
  console = StdOutIsConsole();
  utf8Text = StdOutTakesUtf8Text();
  keyTerminal = OpenKeyTerminal();
}

void Write(std::string_view message) {
  Put(message);
  Keep(false, message);
}

void WriteName(std::string_view name) {
  if (console) {
    // Names go to the console whole, so a multi-byte character is never
    // split between two writes.
    WriteOut();
    if (!WriteConsoleName(name.data(), name.size())) OutputFailed();
    return;
  }
  std::string bytes = NameForRedirectedOutput(name);
  Append(bytes.data(), bytes.size());
  Keep(true, name);
}

void WriteChar(char ch) { Write(std::string_view(&ch, 1)); }

std::string FormatInt(int64_t value, int width) {
  char digits[24];
  size_t n = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[n++] = '-';
  std::string formatted;
  for (int pad = width - static_cast<int>(n); pad > 0; --pad) formatted += ' ';
  while (n > 0) formatted += digits[--n];
  return formatted;
}

void WriteInt(int64_t value, int width) { Write(FormatInt(value, width)); }

void WriteLine() {
  Put(LineEnd());
  if (keyTerminal) {
    Keep(false, "\r\n");
    lineBefore = std::move(lineNow);
    lineNow.clear();
  }
  Flush();
}

void Flush() { WriteOut(); }

void WriteStopMessage(std::string_view message) {
  OutputWithoutWaiting();
  char text[512];
  size_t n = MessageText(LineEnd(), text, sizeof text);
  n += MessageText(message, text + n, sizeof text - n);
  n += MessageText(LineEnd(), text + n, sizeof text - n);
  if (console)
    WriteConsoleMessage(text, n);
  else
    WriteStdOut(text, n);
  if (keyTerminal) {
    WriteKeyTerminalMessage("\r\n", 2);
    WriteKeyTerminalMessage(message.data(), message.size());
    WriteKeyTerminalMessage("\r\n", 2);
  }
}

static char Answer(bool aboutLineBefore) {
  if (keyTerminal) {
    if (aboutLineBefore) ShowAtKeyTerminal(lineBefore);
    ShowAtKeyTerminal(lineNow);
  }
  char answer = 0;
  while (answer != 'Y' && answer != 'N') {
    char key = 0;
    if (inputEnded || !ReadKeyPress(key)) {
      inputEnded = true;
      answer = 'N';
      break;
    }
    answer = AsciiUpperChar(key);
  }
  if (keyTerminal) {
    WriteKeyTerminalMessage(&answer, 1);
    WriteKeyTerminalMessage("\r\n", 2);
  }
  WriteChar(answer);
  WriteLine();
  return answer;
}

char ReadAnswer() { return Answer(true); }

char ReadStartAnswer() { return Answer(false); }
