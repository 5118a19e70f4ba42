// The command line, console and interrupt services kelvo needs from the
// system; one header, two implementations, as the file-system services.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// --- Command line --------------------------------------------------------

// The command line as one text (GetCommandLineA), or nullptr where the
// system hands the program its arguments already split.
const char* RawCommandLine();
// The arguments after the program name, where the system split them.
std::vector<std::string> SplitArguments();

// --- Console -------------------------------------------------------------

// Standard output is a console the user reads: text is converted for it.
bool StdOutIsConsole();
// Standard output is a file or pipe that takes UTF-8 text: on POSIX, in a
// locale whose character set is UTF-8. Message text is converted for it and
// lines end in LF; elsewhere a file or pipe gets code page 866 and CR LF.
bool StdOutTakesUtf8Text();
// The writes to standard output write every byte, a short or interrupted
// write carried on, and are false when the system refuses one.
// Writes bytes to standard output as they are.
bool WriteStdOut(const char* bytes, size_t count);
// Writes code page 866 message text to the console, converted so the user
// can read it. Safe inside the break handler.
bool WriteConsoleMessage(const char* bytes, size_t count);
// Writes a file or directory name to the console so that it cannot be taken
// for another: on Windows converted, control characters shown as "?"; on a
// POSIX terminal, a name with a control byte or one that is no text in the
// terminal's character set quoted as a shell reads it back ('a'$'\r''b').
bool WriteConsoleName(const char* bytes, size_t count);
// From now on a write to standard output that would wait (a full pipe, a
// write of the main flow under way) is dropped and counts as done. For the
// break handler, once for good.
void OutputWithoutWaiting();
// Writes one line of code page 866 message text to standard error, in the
// form standard output would take it there; a failure is dropped.
void WriteErrorLine(const char* bytes, size_t count);
// A file or directory name as it is written to a file or pipe: the bytes the
// ANSI functions gave before names came in UTF-8, in the system's ANSI code
// page, with "?" for a character it lacks (never a look-alike). POSIX: as is.
std::string NameForRedirectedOutput(std::string_view name);

// Where standard input is a terminal (a console) and standard output is
// not, opens that terminal, for the questions to be seen where their keys
// are typed: on POSIX standard error where it is that terminal, else the
// controlling terminal; on Windows CONOUT$. False where there is none.
bool OpenKeyTerminal();
// Write code page 866 message text and a name to it, in its own form, as
// WriteConsoleMessage and WriteConsoleName do; a failure is dropped, as
// standard output keeps the record. The message is safe inside the break
// handler.
void WriteKeyTerminalMessage(const char* bytes, size_t count);
void WriteKeyTerminalName(const char* bytes, size_t count);

// Waits for the next key press on standard input: a console, a terminal, or
// the bytes of a file or pipe. False when no key can be had any more.
bool ReadKeyPress(char& key);

// --- Interrupt -----------------------------------------------------------

// The console control handler: gets the event type, returns true when the
// event is handled. On POSIX SIGINT, SIGQUIT, SIGHUP and SIGTERM are the
// events, each unless it was ignored when the program started (it then
// stays ignored); after a handler that returns false the signal ends the
// process.
using BreakHandler = int (*)(uint32_t eventType);
bool SetConsoleCtrlHandler(BreakHandler handler, bool add);

// The stop gate: the platform holds it around each deletion and directory
// change it makes, and around nothing else (no wait for a share or a worker),
// so the break handler never runs in the middle of one and is never kept
// waiting for the file system.
// The break handler enters it and never leaves it.
void EnterStopGate();
void LeaveStopGate();

// Holds the stop gate for a scope.
struct StopGate {
  StopGate() { EnterStopGate(); }
  ~StopGate() { LeaveStopGate(); }
  StopGate(const StopGate&) = delete;
  StopGate& operator=(const StopGate&) = delete;
};
