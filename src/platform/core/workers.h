// The worker threads of the platform layer, used by the listing engine's
// read-ahead and nothing else. Internal to src/platform.
#pragma once

// Starts `count` threads that each run `work` until the process ends; on
// POSIX every signal is blocked in them, so that the break handler only ever
// runs on the main flow. Returns how many were started.
int StartWorkers(int count, void (*work)());
