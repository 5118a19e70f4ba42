// What the two kinds of read-ahead share: the worker threads and one lock
// over every request they are given. Internal to src/platform.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/readahead_jobs.h"

// The directory whose entries are read, open until the last of them has
// been read.
struct Parent {
  int fd;
  explicit Parent(int opened) : fd(opened) {}
  ~Parent() { close(fd); }
};

// The status of a file the sweep is about to delete.
struct FileAhead {
  std::shared_ptr<Parent> parent;
  std::string name;
  AheadState state = AheadState::kQueued;
  bool read = false;
  struct stat status {};
};

// The files of the current directory the sweep named, in the order it will
// delete them: a few asked for at a time, ahead of the one it deletes.
struct FilePlan {
  std::shared_ptr<Parent> parent;
  std::vector<std::string> names;
  size_t next = 0;  // the first name not yet asked for
  uint32_t epoch = 0;
  std::deque<std::shared_ptr<FileAhead>> asked;
};

struct Ahead;  // a listing read ahead

// Under one lock: the listings and the files asked for.
struct Shared {
  std::mutex lock;
  std::condition_variable queued;
  std::condition_variable settled;
  AheadJobs<Ahead> jobs;
  std::deque<std::shared_ptr<FileAhead>> files;  // queued before any listing
  FilePlan plan;
};

extern Shared& shared;
// The threads started, -1: none could be.
extern int workers;

// Starts the worker threads once; false when there are none.
bool HaveWorkers();

// Reads a file's status on a worker.
void ReadFile(const std::shared_ptr<FileAhead>& job);
