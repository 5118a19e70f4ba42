// The worker threads of the read-ahead, and the one lock over everything
// they share with the main flow, as each system gives them. Internal to
// src/platform; each backend implements it (posix/workers.cpp,
// win32/workers.cpp).
#pragma once

// Starts `count` threads that each run `work` until the process ends; on
// POSIX every signal is blocked in them, so that the break handler only ever
// runs on the main flow. Returns how many were started.
int StartWorkers(int count, void (*work)());

// The lock over the read-ahead's jobs. The break handler never runs while
// the main flow holds it, so that the workers can always make the deletions
// a stop waits for.
void LockAhead();
void UnlockAhead();
// With the lock held, lets go of it until WakeWorkers (or spuriously), then
// holds it again: a worker's wait for work.
void WaitForWork();
// Wakes up to `count` workers waiting for work.
void WakeWorkers(int count);
// With the lock held, lets go of it until WakeTurns (or spuriously), then
// holds it again: a worker's wait for a job of another worker to end.
void WaitForTurn();
// Wakes the `count` workers waiting in WaitForTurn, the lock held.
void WakeTurns(int count);
// With the lock held, lets go of it until NoteSettled (or spuriously), then
// holds it again: the main flow's wait for a job. A signal's handler runs
// meanwhile: the main flow never waits inside the stop gate.
void WaitUntilSettled();
// A job moved on: wakes the main flow if it waits.
void NoteSettled();

// Sleeps for about a millisecond. Safe inside the break handler.
void PauseBriefly();

// Holds the lock for a scope.
struct AheadLock {
  AheadLock() { LockAhead(); }
  ~AheadLock() { UnlockAhead(); }
  AheadLock(const AheadLock&) = delete;
  AheadLock& operator=(const AheadLock&) = delete;
};
