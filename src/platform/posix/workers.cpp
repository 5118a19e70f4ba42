#include "platform/core/workers.h"

#include <pthread.h>
#include <signal.h>

namespace {

void* Run(void* work) {
  reinterpret_cast<void (*)()>(work)();
  return nullptr;
}

}  // namespace

int StartWorkers(int count, void (*work)()) {
  // A thread inherits the mask of the one that starts it.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  int started = 0;
  for (; started < count; ++started) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, Run, reinterpret_cast<void*>(work)) != 0) break;
    pthread_detach(thread);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return started;
}
