#include "run/break_handler.h"

#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

static int OnBreak(uint32_t) {
  // Taken for good: the main flow finishes the step it is in and can start
  // no other deletion, directory change or console write.
  EnterStopGate();
  ReturnToDirectory(run.startDirectory.c_str());
  WriteLine();
  Write(text::kStopped);
  WriteLine();
  FlushAll();
  return 0;
}

void InstallBreakHandler() { SetConsoleCtrlHandler(OnBreak, true); }
