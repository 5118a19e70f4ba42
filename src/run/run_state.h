// The program-wide run state: options and the removed total. Set up once at
// start, before the command line.
#pragma once

#include <cstdint>
#include <string>

struct RunState {
  std::string startDirectory;
  bool useMasks = true;
  bool recurse = false;
  bool askAtStart = true;
  bool askEachFile = true;
  int64_t removedBytes = 0;
  // An announced file stayed, or a directory could not be entered.
  bool fellShort = false;
  uint8_t driveNumber = 0;  // 0: the current drive
};

extern RunState run;

// Sets every field to its start value; startDirectory is where we stand.
void ResetRunState();
