#include "run/run_state.h"

#include "platform/platform.h"

RunState run;

void ResetRunState() {
  run = RunState{};
  run.startDirectory = CurrentDirectory();
}
