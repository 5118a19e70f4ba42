// The read-ahead's bookkeeping: which listings are held, which are dropped,
// and which one the descent meets; and a status read ahead, which must be
// the one the sweep would read itself.
#include "platform/core/readahead_jobs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/core/readahead.h"
#include "scratch_dir.h"

namespace {

using Rank = std::vector<uint32_t>;

std::shared_ptr<AheadJob> Job(uint64_t group, std::string name, Rank rank, uint32_t epoch = 1) {
  auto job = std::make_shared<AheadJob>();
  job->group = group;
  job->name = std::move(name);
  job->rank = std::move(rank);
  job->epoch = epoch;
  return job;
}

std::vector<std::string> Held(const AheadJobs<AheadJob>& jobs) {
  std::vector<std::string> names;
  for (const auto& job : jobs.held) names.push_back(job->name);
  return names;
}

}  // namespace

TEST(AheadJobs, AFullBoundDropsWhatTheDescentMeetsLastAndNeverOneBeingRead) {
  AheadJobs<AheadJob> jobs;
  jobs.Queue(Job(1, "a", {5, 0}));
  jobs.Queue(Job(1, "b", {5, 1}));
  jobs.Queue(Job(1, "c", {5, 2}));
  // "c" is met last, but a worker reads it: "b" makes room instead.
  jobs.queue.back()->state = AheadState::kReading;
  ASSERT_TRUE(jobs.MakeRoom({4, 0}, 3));
  EXPECT_EQ(Held(jobs), (std::vector<std::string>{"a", "c"}));
  jobs.Queue(Job(2, "d", {4, 0}));
  // Met after all held, a job finds no room.
  EXPECT_FALSE(jobs.MakeRoom({6, 0}, 3));
  // Queued in the order the descent meets them, whatever order they came in.
  std::vector<std::string> queued;
  for (const auto& job : jobs.queue) queued.push_back(job->name);
  EXPECT_EQ(queued, (std::vector<std::string>{"d", "a", "c"}));
}

TEST(AheadJobs, JobsAskedBeforeAWaitAreDropped) {
  AheadJobs<AheadJob> jobs;
  jobs.Queue(Job(1, "old", {1}, 1));
  jobs.Queue(Job(2, "new", {0}, 2));
  jobs.DropStale(2);
  EXPECT_EQ(Held(jobs), (std::vector<std::string>{"new"}));
  EXPECT_EQ(jobs.queue.size(), 1u);
}

TEST(AheadJobs, MeetingAJobDropsWhatTheDescentPassedOverAndHandsOverOnlyOneBegun) {
  AheadJobs<AheadJob> jobs;
  for (const char* name : {"a", "b", "c"}) jobs.Queue(Job(7, name, {9, uint32_t(name[0] - 'a')}));
  auto b = jobs.Next();  // "a" is read first ...
  b = jobs.Next();       // ... then "b"
  // Another group's job of the same name is not it.
  EXPECT_EQ(jobs.Meet(8, "b"), nullptr);
  EXPECT_EQ(jobs.Meet(7, "b"), b);
  // "a" was passed over; "b" stays held while it is read.
  EXPECT_EQ(Held(jobs), (std::vector<std::string>{"b", "c"}));
  // "c" has not been begun: the descent reads it sooner itself, and "b" is
  // passed over now.
  EXPECT_EQ(jobs.Meet(7, "c"), nullptr);
  EXPECT_TRUE(jobs.held.empty());
  EXPECT_TRUE(jobs.queue.empty());
}

TEST(AheadReads, ALinkIsReadItselfAsTheSweepReadsIt) {
  // The target's read-only bit would keep the link, its size be counted as
  // freed.
  ScratchDir dir;
  chmod(dir.Put("locked", "data").c_str(), 0444);
  dir.Put("big", "0123456789");
  ASSERT_EQ(symlink("locked", dir.PathOf("X.BAK").c_str()), 0);
  ASSERT_EQ(symlink("big", dir.PathOf("Y.BAK").c_str()), 0);
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir.path()));
  AheadParent here = HereForAhead();
  ASSERT_TRUE(here);
  Listing listing;
  for (const char* name : {"X.BAK", "Y.BAK"}) {
    SCOPED_TRACE(name);
    ListedEntry entry;
    entry.name = name;
    ASSERT_TRUE(ReadEntryAttributes(listing, entry));
    uint32_t attributes = 0;
    int64_t size = -1;
    // Not read ahead at all is sound too: the sweep then reads it itself.
    if (ReadFileAhead(*here, name, attributes, size)) {
      EXPECT_EQ(attributes, entry.attributes);
      EXPECT_EQ(size, entry.size);
    }
  }
  here.reset();
  ChangeDirectory(before);
}
