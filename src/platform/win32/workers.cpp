#include "platform/core/workers.h"

#include <windows.h>

#include "platform/core/freshness.h"

namespace {

// A worker keeps little on its stack: a reservation of its own spares the
// address space of a 32-bit process the default megabyte for each.
constexpr SIZE_T kWorkerStack = 256 * 1024;

void (*task)() = nullptr;
HANDLE started = nullptr;

// The lock, a semaphore counted up for each job queued that the workers
// wait on, and an event the main flow, the only one that waits for a job,
// waits on: set whenever one moves on. None of them needs more than
// Windows XP has.
CRITICAL_SECTION lock;
HANDLE queued = nullptr;
HANDLE settled = nullptr;

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
  InitializeCriticalSection(&lock);
  queued = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
  settled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  started = CreateSemaphoreA(nullptr, 0, count, nullptr);
  if (queued == nullptr || settled == nullptr || started == nullptr) return 0;
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

void LockAhead() { EnterCriticalSection(&lock); }
void UnlockAhead() { LeaveCriticalSection(&lock); }

void WaitForWork() {
  LeaveCriticalSection(&lock);
  WaitForSingleObject(queued, INFINITE);
  EnterCriticalSection(&lock);
}

void WakeWorkers(int count) {
  if (count > 0) ReleaseSemaphore(queued, count, nullptr);
}

// Here a directory's deletions go together and none waits its turn; should
// one, a pause is a wait that loses no wake-up, with what XP has.
void WaitForTurn() {
  LeaveCriticalSection(&lock);
  PauseBriefly();
  EnterCriticalSection(&lock);
}
void WakeTurns(int) {}

void WaitUntilSettled() {
  LeaveCriticalSection(&lock);
  WaitForSingleObject(settled, INFINITE);
  EnterCriticalSection(&lock);
}

void NoteSettled() { SetEvent(settled); }

void PauseBriefly() { Sleep(1); }

int64_t MonotonicMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart / (frequency.QuadPart / 1000);
}
