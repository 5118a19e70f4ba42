// The build under test run at a real terminal, keys typed one by one:
// natively in a pseudo terminal, under Wine in a tmux pane, whose keys Wine's
// console turns into key press and key release events. The child runs under
// LANG=C.UTF-8, so the screen is UTF-8 text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tree.h"

namespace e2e {

class TerminalRun {
 public:
  virtual ~TerminalRun() = default;

  // Types keys as a user would.
  virtual void Type(std::string_view keys) = 0;
  // The text shown so far, as lines with CR and trailing spaces dropped.
  virtual std::string Screen() = 0;
  // The exit code once the program has ended.
  virtual std::optional<int> Ended() = 0;
  // Closes the terminal, as its window is closed.
  virtual void HangUp() = 0;

  // Waits until the screen shows `utf8` `count` times; false after `seconds`.
  bool WaitFor(std::string_view utf8, int count = 1, double seconds = 10);
  // Waits for the end; the exit code, or -1 after `seconds`.
  int Finish(double seconds = 10);
};

// Where a run at a terminal writes: each stream not given a file goes to
// the terminal, as `kelvo > log.txt` leaves standard error there.
struct TerminalStreams {
  std::string outputFile;
  std::string errorFile;
  bool controlling = true;
};

// Starts the build under test in `dir` at a terminal 200 columns wide.
// Natively, unless `streams.controlling`, the terminal is one the program was handed
// and not started in: hung up, it sends no signal, and every write to it
// fails from then on.
std::unique_ptr<TerminalRun> StartAtTerminal(const ScopedTree& dir,
                                             const std::vector<std::string>& args = {},
                                             const TerminalStreams& streams = {});

// How often `part` occurs in `text`.
int Occurrences(std::string_view text, std::string_view part);

}  // namespace e2e
