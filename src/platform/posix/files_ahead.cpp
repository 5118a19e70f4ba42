// The status of the files the sweep is about to delete, read on the
// read-ahead's workers a few ahead of the deletion that needs each.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/posix/readahead_shared.h"
#include "platform/posix/readahead.h"

void ReadFile(const std::shared_ptr<FileAhead>& job) {
  struct stat st;
  bool read = fstatat(job->parent->fd, job->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    job->parent.reset();
    job->read = read;
    job->status = st;
    job->state = AheadState::kRead;
  }
  shared.settled.notify_all();
}

namespace {

constexpr size_t kFilesHeld = 64;

// Asks for the plan's next files, up to the bound. The lock is held.
void AskMoreFiles(FilePlan& plan) {
  while (plan.asked.size() < kFilesHeld && plan.next < plan.names.size()) {
    auto job = std::make_shared<FileAhead>();
    job->parent = plan.parent;
    job->name = std::move(plan.names[plan.next++]);
    plan.asked.push_back(job);
    shared.files.push_back(std::move(job));
  }
}

// Drops the plan's jobs from `from` to `to` that no worker has begun. The
// lock is held.
void DropFiles(std::deque<std::shared_ptr<FileAhead>>::iterator from,
               std::deque<std::shared_ptr<FileAhead>>::iterator to) {
  for (auto job = from; job != to; ++job)
    if ((*job)->state == AheadState::kQueued) std::erase(shared.files, *job);
}

void ClearFilePlan() {
  FilePlan& plan = shared.plan;
  DropFiles(plan.asked.begin(), plan.asked.end());
  plan = FilePlan{};
}

}  // namespace

void ReadFilesAhead(int directoryFd, std::vector<std::string> names) {
  DropFilesAhead();
  if (names.empty() || !HaveWorkers()) {
    close(directoryFd);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    FilePlan& plan = shared.plan;
    plan.parent = std::make_shared<Parent>(directoryFd);
    plan.names = std::move(names);
    plan.epoch = attributeEpoch;
    AskMoreFiles(plan);
  }
  shared.queued.notify_all();
}

bool TakeFileAhead(const std::string& name, struct stat& status) {
  if (workers <= 0) return false;
  std::unique_lock<std::mutex> hold(shared.lock);
  FilePlan& plan = shared.plan;
  if (plan.epoch != attributeEpoch) {
    ClearFilePlan();
    return false;
  }
  auto at =
      std::find_if(plan.asked.begin(), plan.asked.end(),
                   [&name](const std::shared_ptr<FileAhead>& job) { return job->name == name; });
  if (at == plan.asked.end()) return false;
  std::shared_ptr<FileAhead> job = *at;
  // Files the sweep passed over are not deleted now; one not yet begun is
  // read sooner by the sweep itself.
  DropFiles(plan.asked.begin(), at + 1);
  plan.asked.erase(plan.asked.begin(), at + 1);
  AskMoreFiles(plan);
  hold.unlock();
  shared.queued.notify_all();
  hold.lock();
  if (job->state == AheadState::kQueued) return false;
  shared.settled.wait(hold, [&job] { return job->state == AheadState::kRead; });
  if (!job->read || !S_ISREG(job->status.st_mode)) return false;
  status = job->status;
  return true;
}

void DropFilesAhead() {
  if (workers <= 0) return;
  std::lock_guard<std::mutex> hold(shared.lock);
  ClearFilePlan();
}
