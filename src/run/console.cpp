#include "run/console.h"

#include <cstring>

#include "common/cp866.h"
#include "common/names.h"
#include "platform/platform.h"

namespace {

constexpr size_t kBufferSize = 128;

// `used` is read by the break handler, which may interrupt the main flow;
// the stop gate keeps it from seeing a half-done append.
char buffer[kBufferSize];
size_t used = 0;
bool charDevice = false;
bool console = false;
bool utf8Text = false;
bool inputEnded = false;

void WriteOutLocked() {
  if (used == 0) return;
  if (console)
    WriteConsoleMessage(buffer, used);
  else
    WriteStdOut(buffer, used);
  used = 0;
}

void AppendLocked(const char* bytes, size_t count) {
  while (count > 0) {
    if (used == kBufferSize) WriteOutLocked();
    size_t n = kBufferSize - used < count ? kBufferSize - used : count;
    memcpy(buffer + used, bytes, n);
    used += n;
    bytes += n;
    count -= n;
  }
}

// Message text in the form standard output takes; no allocation, as the
// break handler writes through here.
void AppendMessageLocked(std::string_view message) {
  if (!utf8Text) {
    AppendLocked(message.data(), message.size());
    return;
  }
  for (char c : message) {
    char utf8[2];
    AppendLocked(utf8, Utf8FromCp866(static_cast<unsigned char>(c), utf8));
  }
}

}  // namespace

void StartConsole() {
  charDevice = StdOutIsCharDevice();
  console = StdOutIsConsole();
  utf8Text = StdOutTakesUtf8Text();
}

void Write(std::string_view message) {
  StopGate gate;
  AppendMessageLocked(message);
}

void WriteName(std::string_view name) {
  StopGate gate;
  if (console) {
    // Names go to the console whole, so a multi-byte character is never
    // split between two writes.
    WriteOutLocked();
    WriteConsoleName(name.data(), name.size());
    return;
  }
  std::string bytes = NameForRedirectedOutput(name);
  AppendLocked(bytes.data(), bytes.size());
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
  Write(utf8Text ? "\n" : "\r\n");
  Flush();
}

void Flush() {
  if (!charDevice) return;
  StopGate gate;
  WriteOutLocked();
}

void FlushAll() {
  StopGate gate;
  WriteOutLocked();
}

char ReadAnswer() {
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
  WriteChar(answer);
  WriteLine();
  return answer;
}
