#include "platform/core/workers.h"

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include "platform/console.h"
#include "platform/core/freshness.h"

namespace {

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t work = PTHREAD_COND_INITIALIZER;
pthread_cond_t turns = PTHREAD_COND_INITIALIZER;
// Posted, at most once ahead, each time a job moves on; the main flow waits
// on it without the lock, as on Windows' auto-reset event.
sem_t settled;

// The break handler runs on the main flow, in a signal's handler: were it
// let in while the main flow holds the lock, the workers could make no
// deletion it waits for. So the main flow holds the lock inside the stop
// gate; the workers, whose signals are blocked, never touch the gate.
thread_local bool aWorker = false;

void* Run(void* task) {
  aWorker = true;
  reinterpret_cast<void (*)()>(task)();
  return nullptr;
}

}  // namespace

int StartWorkers(int count, void (*task)()) {
  if (sem_init(&settled, 0, 0) != 0) return 0;
  // Threads inherit the mask of the thread that makes them.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  int started = 0;
  for (; started < count; ++started) {
    pthread_t thread;
    if (pthread_create(&thread, &attributes, Run, reinterpret_cast<void*>(task)) != 0) break;
  }
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

void LockAhead() {
  if (!aWorker) EnterStopGate();
  pthread_mutex_lock(&lock);
}

void UnlockAhead() {
  pthread_mutex_unlock(&lock);
  // A signal that came meanwhile is handled here, the lock let go.
  if (!aWorker) LeaveStopGate();
}

void WaitForWork() { pthread_cond_wait(&work, &lock); }
void WaitForTurn() { pthread_cond_wait(&turns, &lock); }
void WakeTurns(int count) {
  if (count > 0) pthread_cond_broadcast(&turns);
}
void WakeWorkers(int count) {
  if (count > 1)
    pthread_cond_broadcast(&work);
  else if (count == 1)
    pthread_cond_signal(&work);
}

void WaitUntilSettled() {
  pthread_mutex_unlock(&lock);
  LeaveStopGate();
  while (sem_wait(&settled) != 0 && errno == EINTR) {
  }
  EnterStopGate();
  pthread_mutex_lock(&lock);
}

void NoteSettled() {
  // Under the lock, so that no two posts pass the test together.
  int posted = 0;
  sem_getvalue(&settled, &posted);
  if (posted == 0) sem_post(&settled);
}

void PauseBriefly() {
  struct timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
}

int64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
