#include "platform/core/workers.h"

#include <windows.h>

namespace {

// A worker keeps little on its stack: a reservation of its own spares the
// address space of a 32-bit process the default megabyte for each.
constexpr SIZE_T kWorkerStack = 256 * 1024;

void (*task)() = nullptr;
HANDLE started = nullptr;

DWORD WINAPI Run(LPVOID) {
  ReleaseSemaphore(started, 1, nullptr);
  task();
  return 0;
}

}  // namespace

// Returns once every thread started runs: a process that ends while one is
// still being set up may crash on its way out (Wine's does). The console
// control handler runs on a thread of its own on Windows: the workers need
// nothing done for it.
int StartWorkers(int count, void (*work)()) {
  task = work;
  started = CreateSemaphoreA(nullptr, 0, count, nullptr);
  if (started == nullptr) return 0;
  int running = 0;
  for (; running < count; ++running) {
    HANDLE thread = CreateThread(nullptr, kWorkerStack, Run, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) break;
    CloseHandle(thread);
  }
  for (int i = 0; i < running; ++i) WaitForSingleObject(started, INFINITE);
  return running;
}
