// The command line: options /? /N /S /T /Y (either case) and one directory
// argument, taken left to right, each applied at once. On POSIX -h and
// --help show the help screen too, --version the version line, and any other
// argument beginning with "-" is wrong.
#pragma once

#include <string>
#include <vector>

// Splits a Windows command line: arguments are separated by bytes 1 to 32,
// a double quote opens a stretch (spaces included) that runs to the next one
// or the end, quotes are dropped, an empty argument adds nothing. The first
// word, the program name, is left out.
std::vector<std::string> SplitCommandLine(const char* line);

// What the command line decided: go on with the run, or end it with a code.
struct CommandLineResult {
  bool endRun = false;
  int exitCode = 0;
};

// Applies the arguments to the run state and may enter the directory
// argument; shows the help screen, or reports the first bad argument with
// its position, and then asks for the run to end.
CommandLineResult ParseCommandLine();
// True when the first argument is --version (POSIX), which then wants the
// version line without the rest of the banner.
bool VersionRequestedFirst();
CommandLineResult ParseArguments(const std::vector<std::string>& arguments);
