// A signal sent at one exact system call of a child, through ptrace: the
// moment a window opens only there, found without any timing.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "process.h"

namespace e2e {
namespace {

// ptrace takes its numbers where pointers go.
void* AsData(uintptr_t value) { return reinterpret_cast<void*>(value); }

}  // namespace

bool BackgroundProcess::SignalAtCall(long call, int sig) {
  int status = 0;
  // The child stops first at its exec.
  if (waitpid(pid_, &status, 0) != pid_ || !WIFSTOPPED(status)) {
    reaped_ = true;
    return false;
  }
  ptrace(PTRACE_SETOPTIONS, pid_, nullptr, AsData(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
  int pass = 0;  // a signal of its own the child stopped at, handed on
  while (ptrace(PTRACE_SYSCALL, pid_, nullptr, AsData(pass)) == 0) {
    pass = 0;
    if (waitpid(pid_, &status, 0) != pid_ || !WIFSTOPPED(status)) {
      reaped_ = true;
      return false;
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      pass = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info = {};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid_, AsData(sizeof info), &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY || static_cast<long>(info.entry.nr) != call)
      continue;
    // Pending while the call is made; detached, the child takes it as the
    // call returns.
    syscall(SYS_tgkill, pid_, pid_, sig);
    return ptrace(PTRACE_DETACH, pid_, nullptr, 0) == 0;
  }
  return false;
}

}  // namespace e2e
