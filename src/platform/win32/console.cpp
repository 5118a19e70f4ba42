// Console, keys, the command line and the interrupt on Windows. The console
// control handler runs on a thread of its own; the stop gate is a critical
// section it takes and never gives back, and so is the turn to write when
// the handler can have it.
#include <windows.h>

#include <cstring>
#include <string>

#include "common/invisible.h"
#include "platform/core/freshness.h"
#include "platform/platform.h"

namespace {

CRITICAL_SECTION gate;
// Held by every write to standard output. A write into a pipe nobody reads
// keeps it; the break handler then drops its own text instead of waiting.
CRITICAL_SECTION output;
volatile LONG outputDropped = 0;
// Set once the break handler holds the turn for good: its own write goes
// through a thread it waits for a moment only, as a pipe may be full even
// with no write of the main flow under way.
bool writesBounded = false;
char boundedBytes[512];
size_t boundedCount = 0;
HANDLE stdOut = INVALID_HANDLE_VALUE;
HANDLE stdIn = INVALID_HANDLE_VALUE;
// The console the keys come from, where standard output goes elsewhere.
HANDLE keyConsole = INVALID_HANDLE_VALUE;
BreakHandler breakHandler = nullptr;

// Once output is dropped the turn is not waited for: a write that never
// ends may hold it.
struct OutputTurn {
  OutputTurn() : dropped_(outputDropped != 0) {
    if (!dropped_) EnterCriticalSection(&output);
  }
  ~OutputTurn() {
    if (!dropped_) LeaveCriticalSection(&output);
  }
  OutputTurn(const OutputTurn&) = delete;
  OutputTurn& operator=(const OutputTurn&) = delete;
  bool dropped() const { return dropped_; }

 private:
  bool dropped_;
};

// A write that had to wait (a pipe nobody read for a while) counts as a
// wait: what was read of the tree before it is read again.
bool WriteAll(HANDLE handle, const char* bytes, size_t count) {
  while (count > 0) {
    DWORD written = 0;
    int64_t began = MonotonicMs();
    bool wrote = WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr) != 0;
    if (MonotonicMs() - began > kWaitedMs) NoteWaited();
    if (!wrote || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool WriteConverted(HANDLE handle, UINT codePage, const char* bytes, size_t count) {
  wchar_t wide[512];
  while (count > 0) {
    // A piece short enough that its UTF-16 form always fits.
    int piece = static_cast<int>(count < 256 ? count : 256);
    int n = MultiByteToWideChar(codePage, 0, bytes, piece, wide, 512);
    DWORD written = 0;
    if (n > 0 && !WriteConsoleW(handle, wide, static_cast<DWORD>(n), &written, nullptr))
      return false;
    bytes += piece;
    count -= static_cast<size_t>(piece);
  }
  return true;
}

// A name as the console shows it: converted whole, as a double-byte
// character of the ANSI code page may straddle any piece boundary; a control
// character, and one that shows as nothing or reorders the line, as "?", so
// names that differ look different.
std::wstring ShownName(const char* bytes, size_t count) {
  int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), wide.data(), n);
  std::wstring shown;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    bool pair = code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                wide[i + 1] <= 0xDFFF;
    if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
    if (code < 0x20 || code == 0x7F || IsInvisibleCharacter(code)) {
      shown += L'?';
    } else {
      shown += wide[i];
      if (pair) shown += wide[i + 1];
    }
    i += pair;
  }
  return shown;
}

DWORD WINAPI WriteBoundedBytes(void*) {
  WriteAll(stdOut, boundedBytes, boundedCount);
  return 0;
}

void WriteBounded(const char* bytes, size_t count) {
  boundedCount = count < sizeof boundedBytes ? count : sizeof boundedBytes;
  memcpy(boundedBytes, bytes, boundedCount);
  HANDLE thread = CreateThread(nullptr, 0, WriteBoundedBytes, nullptr, 0, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, 500);
  CloseHandle(thread);
}

BOOL WINAPI OnControl(DWORD eventType) {
  if (breakHandler == nullptr) return FALSE;
  return breakHandler(eventType) ? TRUE : FALSE;
}

}  // namespace

void StartPlatform(int, char**) {
  InitializeCriticalSection(&gate);
  InitializeCriticalSection(&output);
  stdOut = GetStdHandle(STD_OUTPUT_HANDLE);
  stdIn = GetStdHandle(STD_INPUT_HANDLE);
}

const char* RawCommandLine() { return GetCommandLineA(); }

std::vector<std::string> SplitArguments() { return {}; }

bool StdOutIsConsole() {
  DWORD mode;
  return GetConsoleMode(stdOut, &mode) != 0;
}

bool StdOutTakesUtf8Text() { return false; }

bool WriteStdOut(const char* bytes, size_t count) {
  OutputTurn turn;
  if (turn.dropped()) return true;
  if (!writesBounded) return WriteAll(stdOut, bytes, count);
  WriteBounded(bytes, count);
  return true;
}

bool WriteConsoleMessage(const char* bytes, size_t count) {
  OutputTurn turn;
  return turn.dropped() || WriteConverted(stdOut, 866, bytes, count);
}

bool WriteConsoleName(const char* bytes, size_t count) {
  std::wstring shown = ShownName(bytes, count);
  OutputTurn turn;
  DWORD written = 0;
  return turn.dropped() ||
         WriteConsoleW(stdOut, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
}

bool OpenKeyTerminal() {
  DWORD mode;
  if (!GetConsoleMode(stdIn, &mode) || StdOutIsConsole()) return false;
  keyConsole = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return keyConsole != INVALID_HANDLE_VALUE;
}

void WriteKeyTerminalMessage(const char* bytes, size_t count) {
  if (keyConsole != INVALID_HANDLE_VALUE) WriteConverted(keyConsole, 866, bytes, count);
}

void WriteKeyTerminalName(const char* bytes, size_t count) {
  if (keyConsole == INVALID_HANDLE_VALUE) return;
  std::wstring shown = ShownName(bytes, count);
  DWORD written = 0;
  WriteConsoleW(keyConsole, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
}

void OutputWithoutWaiting() {
  // A write of the main flow may be over in a moment, or blocked for good.
  for (int tries = 0; tries < 20; ++tries) {
    if (TryEnterCriticalSection(&output)) {
      writesBounded = true;  // the turn is kept: the main flow writes no more
      return;
    }
    Sleep(5);
  }
  outputDropped = 1;
}

void WriteErrorLine(const char* bytes, size_t count) {
  HANDLE stdErr = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  if (GetConsoleMode(stdErr, &mode)) {
    WriteConverted(stdErr, 866, bytes, count);
    WriteConverted(stdErr, 866, "\r\n", 2);
    return;
  }
  WriteAll(stdErr, bytes, count);
  WriteAll(stdErr, "\r\n", 2);
}

// A key read, or a wait for one, is a wait: what was read of the tree before
// it is read again. Input at its end answers at once and reads no key.
bool ReadKeyPress(char& key) {
  DWORD mode;
  if (!GetConsoleMode(stdIn, &mode)) {
    int64_t began = MonotonicMs();
    DWORD got = 0;
    bool read = ReadFile(stdIn, &key, 1, &got, nullptr) && got == 1;
    if (read || MonotonicMs() - began > kWaitedMs) NoteWaited();
    return read;
  }
  NoteWaited();
  while (true) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputA(stdIn, &record, 1, &got)) return false;
    if (got != 1 || record.EventType != KEY_EVENT) continue;
    // A key's release carries the same character as its press; taking it
    // would let one keystroke answer two questions.
    if (!record.Event.KeyEvent.bKeyDown) continue;
    key = record.Event.KeyEvent.uChar.AsciiChar;
    return true;
  }
}

bool SetConsoleCtrlHandler(BreakHandler handler, bool add) {
  breakHandler = add ? handler : nullptr;
  return ::SetConsoleCtrlHandler(OnControl, add ? TRUE : FALSE) != 0;
}

void EnterStopGate() { EnterCriticalSection(&gate); }

void LeaveStopGate() { LeaveCriticalSection(&gate); }
