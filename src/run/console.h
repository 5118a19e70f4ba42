// Console output on standard output through a 128-byte buffer, and the Y/N
// answer reader. Message texts are code page 866 bytes, names are written as
// the system gives them; lines end in CR LF (a file or pipe that takes UTF-8
// text gets the messages in UTF-8 and LF line ends). Every line is written
// out as it ends, wherever standard output goes, so nothing is asked or
// deleted before its text is out. A write that fails ends the process with
// code 2 and one line on standard error: nothing is deleted unannounced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void StartConsole();

void Write(std::string_view message);
// A file or directory name: shown safely on a console, and to a file or
// pipe written as NameForRedirectedOutput gives it.
void WriteName(std::string_view name);
void WriteChar(char ch);
void WriteInt(int64_t value, int width);
void WriteLine();
// Writes the buffer out.
void Flush();
// The break handler's line end, `message` and line end, written at once and
// without waiting: the main flow may be stopped halfway through a line or
// inside a write that nobody reads. Nothing is written after it.
void WriteStopMessage(std::string_view message);

// The decimal text of `value` with a leading "-" when negative, padded on the
// left with spaces to `width` characters; never cut.
std::string FormatInt(int64_t value, int width);

// Waits for Y or N, echoes it and a line end, returns it upper-cased. When no
// key can be had any more the answer is N. Where standard input is a
// terminal that standard output does not reach, the question (the line under
// way) and the announcement it asks about (the line before it) are shown at
// that terminal too, with the answer, and so is a stop message.
char ReadAnswer();
// The same for the start question, which asks about no line before it.
char ReadStartAnswer();
