// Console, keys, the command line and the interrupt on Windows. The console
// control handler runs on a thread of its own; the stop gate is a critical
// section it takes and never gives back, and so is the turn to write when
// the handler can have it.
#include <windows.h>

#include <cstring>

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
    if (MonotonicMs() - began > kWriteWaitedMs) NoteWaited();
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
  std::string shown(bytes, count);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  // Names are ANSI code page bytes; a double-byte character may straddle a
  // piece boundary, so the whole name is converted at once.
  int n = MultiByteToWideChar(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), nullptr, 0);
  if (n <= 0) return true;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), wide.data(), n);
  OutputTurn turn;
  DWORD written = 0;
  return turn.dropped() || WriteConsoleW(stdOut, wide.data(), static_cast<DWORD>(n), &written, nullptr);
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

bool ReadKeyPress(char& key) {
  NoteWaited();
  DWORD mode;
  if (!GetConsoleMode(stdIn, &mode)) {
    DWORD got = 0;
    return ReadFile(stdIn, &key, 1, &got, nullptr) && got == 1;
  }
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
