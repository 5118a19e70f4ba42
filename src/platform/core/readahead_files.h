// The statuses of the files the sweep will delete, read ahead on the
// workers (readahead_files.cpp), and what the workers' loop (readahead.cpp)
// takes of them. Internal to the read-ahead.
#pragma once

#include <memory>

#include "platform/core/removals.h"

// Reads in flight at most, and the workers: enough besides for every
// deletion in flight.
constexpr int kReadsInFlight = 16;
constexpr int kWorkers = kReadsInFlight + kRemovalsAtOnce;

struct FileJob;

// Returns the status to read next, taken off the queue and marked begun, or
// nullptr where none is queued. The workers' lock is held.
std::shared_ptr<FileJob> NextFileJob();
// Reads the status `job` asks for, without the lock, and gives it back
// under it.
void ReadFileJob(const std::shared_ptr<FileJob>& job);
// Returns true where the workers were started.
bool WorkersStarted();
