// Console, keys, the command line and the interrupt on Windows. The console
// control handler runs on a thread of its own; the stop gate is a critical
// section it takes and never gives back.
#include <windows.h>

#include "platform/listing/listing.h"
#include "platform/platform.h"

namespace {

CRITICAL_SECTION gate;
HANDLE stdOut = INVALID_HANDLE_VALUE;
HANDLE stdIn = INVALID_HANDLE_VALUE;
BreakHandler breakHandler = nullptr;

void WriteAll(const char* bytes, size_t count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(stdOut, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0)
      return;
    bytes += written;
    count -= written;
  }
}

void WriteConverted(UINT codePage, const char* bytes, size_t count) {
  wchar_t wide[512];
  while (count > 0) {
    // A piece short enough that its UTF-16 form always fits.
    int piece = static_cast<int>(count < 256 ? count : 256);
    int n = MultiByteToWideChar(codePage, 0, bytes, piece, wide, 512);
    DWORD written = 0;
    if (n > 0) WriteConsoleW(stdOut, wide, static_cast<DWORD>(n), &written, nullptr);
    bytes += piece;
    count -= static_cast<size_t>(piece);
  }
}

BOOL WINAPI OnControl(DWORD eventType) {
  if (breakHandler == nullptr) return FALSE;
  return breakHandler(eventType) ? TRUE : FALSE;
}

}  // namespace

void StartPlatform(int, char**) {
  InitializeCriticalSection(&gate);
  stdOut = GetStdHandle(STD_OUTPUT_HANDLE);
  stdIn = GetStdHandle(STD_INPUT_HANDLE);
}

const char* RawCommandLine() { return GetCommandLineA(); }

std::vector<std::string> SplitArguments() { return {}; }

bool StdOutIsCharDevice() { return GetFileType(stdOut) == FILE_TYPE_CHAR; }

bool StdOutIsConsole() {
  DWORD mode;
  return GetConsoleMode(stdOut, &mode) != 0;
}

bool StdOutTakesUtf8Text() { return false; }

void WriteStdOut(const char* bytes, size_t count) { WriteAll(bytes, count); }

void WriteConsoleMessage(const char* bytes, size_t count) { WriteConverted(866, bytes, count); }

void WriteConsoleName(const char* bytes, size_t count) {
  std::string shown(bytes, count);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  // Names are ANSI code page bytes; a double-byte character may straddle a
  // piece boundary, so the whole name is converted at once.
  int n = MultiByteToWideChar(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), wide.data(), n);
  DWORD written = 0;
  WriteConsoleW(stdOut, wide.data(), static_cast<DWORD>(n), &written, nullptr);
}

bool ReadKeyPress(char& key) {
  ++attributeEpoch;
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
