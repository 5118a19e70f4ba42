// The statuses of the files the sweep will delete, read ahead: a few at a
// time, in the order it deletes them, each taken only while still fresh.
#include <algorithm>
#include <deque>

#include "platform/core/freshness.h"
#include "platform/core/readahead.h"
#include "platform/core/readahead_files.h"
#include "platform/core/readahead_jobs.h"
#include "platform/core/workers.h"
#include "platform/platform.h"

constexpr size_t kFilesHeld = kAheadBound;

struct FileJob {
  AheadParent parent;
  std::string name;
  AheadState state = AheadState::kQueued;
  bool read = false;
  uint32_t attributes = 0;
  int64_t size = 0;
  ReadMoment moment;
};

namespace {

// The files of the current directory the sweep named, in the order it will
// delete them: a few asked for at a time, ahead of the one it deletes.
struct FilePlan {
  AheadParent parent;
  std::vector<std::string> names;
  size_t next = 0;  // the first name not yet asked for
  uint32_t epoch = 0;
  std::deque<std::shared_ptr<FileJob>> asked;
  bool nearlyDone = false;  // the subdirectories were asked for again near its end
};

// Under the workers' lock. Never destroyed: workers still wait on it while
// the process ends.
struct FileReads {
  std::deque<std::shared_ptr<FileJob>> queued;  // read before any listing
  FilePlan plan;
};
FileReads& reads = *new FileReads;

// Asks for the plan's next files, up to the bound. The lock is held.
int AskMoreFiles() {
  FilePlan& plan = reads.plan;
  int asked = 0;
  while (plan.asked.size() < kFilesHeld && plan.next < plan.names.size()) {
    auto job = std::make_shared<FileJob>();
    job->parent = plan.parent;
    job->name = std::move(plan.names[plan.next++]);
    job->moment.epoch = plan.epoch;
    plan.asked.push_back(job);
    reads.queued.push_back(std::move(job));
    ++asked;
  }
  return asked;
}

// Drops the plan's jobs before `to` that no worker has begun. The lock is held.
void DropQueuedFiles(std::deque<std::shared_ptr<FileJob>>::iterator to) {
  for (auto job = reads.plan.asked.begin(); job != to; ++job)
    if ((*job)->state == AheadState::kQueued) std::erase(reads.queued, *job);
}

void ClearFilePlan() {
  DropQueuedFiles(reads.plan.asked.end());
  reads.plan = FilePlan{};
}

bool TakeFileLocked(const std::string& name, uint32_t& attributes, int64_t& size, bool& nearlyDone) {
  AheadLock hold;
  FilePlan& plan = reads.plan;
  if (plan.epoch != attributeEpoch) {
    ClearFilePlan();
    return false;
  }
  auto at = std::find_if(plan.asked.begin(), plan.asked.end(),
                         [&name](const std::shared_ptr<FileJob>& job) { return job->name == name; });
  if (at == plan.asked.end()) return false;
  std::shared_ptr<FileJob> job = *at;
  // Files the sweep passed over are not deleted now; one not yet begun is
  // read sooner by the sweep itself.
  DropQueuedFiles(at + 1);
  plan.asked.erase(plan.asked.begin(), at + 1);
  WakeWorkers(AskMoreFiles());
  if (!plan.nearlyDone && plan.asked.size() + (plan.names.size() - plan.next) <= kWorkers)
    nearlyDone = plan.nearlyDone = true;
  if (job->state == AheadState::kQueued) return false;
  while (job->state != AheadState::kRead) WaitUntilSettled();
  if (!job->read || !StillFresh(job->moment)) return false;
  attributes = job->attributes;
  size = job->size;
  return true;
}

}  // namespace

std::shared_ptr<FileJob> NextFileJob() {
  if (reads.queued.empty()) return nullptr;
  std::shared_ptr<FileJob> job = std::move(reads.queued.front());
  reads.queued.pop_front();
  job->state = AheadState::kReading;
  return job;
}

void ReadFileJob(const std::shared_ptr<FileJob>& job) {
  int64_t began = MonotonicMs();
  uint32_t attributes = 0;
  int64_t size = 0;
  bool read = ReadFileAhead(*job->parent, job->name, attributes, size);
  AheadLock hold;
  job->parent.reset();
  job->read = read;
  job->attributes = attributes;
  job->size = size;
  job->moment.ms = began;
  job->state = AheadState::kRead;
  NoteSettled();
}

void AskFiles(AheadParent parent, std::vector<std::string> names) {
  DropFiles();
  if (!parent || names.empty() || !FilesAhead()) return;
  int asked;
  {
    AheadLock hold;
    FilePlan& plan = reads.plan;
    plan.parent = std::move(parent);
    plan.names = std::move(names);
    plan.epoch = attributeEpoch;
    asked = AskMoreFiles();
  }
  WakeWorkers(asked);
}

bool TakeFile(const std::string& name, uint32_t& attributes, int64_t& size) {
  if (!WorkersStarted()) return false;
  bool nearlyDone = false;
  bool taken = TakeFileLocked(name, attributes, size, nearlyDone);
  // The listings of the subdirectories, asked for when the sweep began, may
  // be too old by the time the descent enters them: asked for again while
  // the last deletions are made, they are fresh then.
  if (nearlyDone) AskAgainBeforeDescent();
  return taken;
}

void DropFiles() {
  if (!WorkersStarted()) return;
  AheadLock hold;
  ClearFilePlan();
}
