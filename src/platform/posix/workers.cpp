#include "platform/core/workers.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include "platform/core/freshness.h"

namespace {

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t work = PTHREAD_COND_INITIALIZER;
pthread_cond_t settled = PTHREAD_COND_INITIALIZER;

void* Run(void* task) {
  reinterpret_cast<void (*)()>(task)();
  return nullptr;
}

}  // namespace

int StartWorkers(int count, void (*task)()) {
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

void LockAhead() { pthread_mutex_lock(&lock); }
void UnlockAhead() { pthread_mutex_unlock(&lock); }
void WaitForWork() { pthread_cond_wait(&work, &lock); }
void WakeWorkers(int count) {
  if (count > 1)
    pthread_cond_broadcast(&work);
  else if (count == 1)
    pthread_cond_signal(&work);
}
void WaitUntilSettled() { pthread_cond_wait(&settled, &lock); }
void NoteSettled() { pthread_cond_broadcast(&settled); }

void PauseBriefly() {
  struct timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
}

int64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
