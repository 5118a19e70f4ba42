#include "run/run_sequence.h"

#include "engine/descent.h"
#include "engine/sweep.h"
#include "platform/platform.h"
#include "rules/rule_files.h"
#include "rules/tables.h"
#include "run/break_handler.h"
#include "run/command_line.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

static void WriteBanner() {
  Write(text::kBanner1);
  WriteLine();
  Write(text::kBanner2);
  WriteLine();
  Write(text::kBanner3);
  WriteLine();
}

static void WriteSummary(int64_t freeBefore) {
  Write(std::string(48, '_'));
  WriteLine();
  Write(text::kRemovedSize);
  WriteInt(run.removedBytes, 10);
  Write(text::kBytes);
  WriteLine();
  int64_t freeAfter = FreeDiskBytes(run.driveNumber);
  Write(text::kFreed);
  WriteInt(freeAfter - freeBefore, 10);
  Write(text::kBytes);
  WriteLine();
}

int RunKelvo() {
  StartConsole();
  LoadMaskFile(maskList);
  LoadRuleFile(ruleTable);
  ResetRunState();
  // A version request alone gets the version line alone, as tools that read
  // it expect.
  if (!VersionRequestedFirst()) WriteBanner();
  InstallBreakHandler();
  CommandLineResult commandLine = ParseCommandLine();
  if (commandLine.endRun) {
    Flush();
    return commandLine.exitCode;
  }
  int64_t freeBefore = FreeDiskBytes(run.driveNumber);
  char startAnswer = 0;
  if (run.askAtStart) {
    Write(text::kAskStart);
    Flush();
    startAnswer = ReadStartAnswer();
  }
  if (startAnswer != 'N') {
    if (run.recurse)
      DescendTree();
    else
      SweepDirectory();
    FinishRemovals();
  }
  WriteSummary(freeBefore);
  Flush();
  return run.fellShort ? 2 : 0;
}
