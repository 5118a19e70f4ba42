#include "run/break_handler.h"

#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

static int OnBreak(uint32_t) {
  // Taken for good: the main flow finishes the deletion or directory change
  // it is in and can start no other.
  EnterStopGate();
  // Those in flight were announced: the stop message comes after them.
  SettleRemovals();
  ReturnToDirectory(run.startDirectory.c_str());
  WriteStopMessage(text::kStopped);
  return 0;
}

void InstallBreakHandler() { SetConsoleCtrlHandler(OnBreak, true); }
