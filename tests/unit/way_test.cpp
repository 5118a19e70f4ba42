// The one stack of levels a descent stands on, over a backend that holds
// its levels by nothing: what may be entered, and the text messages name.
#include <gtest/gtest.h>

#include "platform/core/place.h"

namespace {

struct FakePlace : PlaceBase {};

DirectoryStamp Stamp(uint64_t index, uint64_t mount = 1) {
  DirectoryStamp stamp;
  stamp.volume = 7;
  stamp.index = index;
  stamp.mount = mount;
  return stamp;
}

FakePlace Level(const char* name, uint64_t index) {
  FakePlace level;
  level.name = name;
  level.stamp = Stamp(index);
  return level;
}

TEST(Way, ADirectoryThatIsALevelItStandsInOrBelowIsRefusedWhateverItsName) {
  Way<FakePlace> way;
  way.MovedTo("/t", "/t");
  way.SetTop(Level("", 1));
  way.Push(Level("a", 2));
  way.Push(Level("b", 3));
  // A name read as "..", or a directory bound below itself, leads back up.
  for (uint64_t above : {1, 2, 3})
    EXPECT_EQ(way.Admits(kAttrDirectory, Stamp(above)), Entry::Refused) << above;
  EXPECT_EQ(way.Admits(kAttrDirectory, Stamp(4)), Entry::Entered);
  // The same index on another mount is another directory.
  EXPECT_EQ(way.Admits(kAttrDirectory, Stamp(1, 2)), Entry::Entered);
  for (uint32_t more : {kAttrReadOnly, kAttrHidden, kAttrSystem, kAttrReparsePoint})
    EXPECT_EQ(way.Admits(kAttrDirectory | more, Stamp(4)), Entry::PassedOver) << more;
}

TEST(Way, TextFollowsTheLevelsEnteredAndLeft) {
  Way<FakePlace> way;
  way.MovedTo("/t", "/t");
  way.SetTop(Level("", 1));
  way.levels.front().textLength = way.text.size();
  way.Push(Level("a", 2));
  way.Push(Level("b c", 3));
  EXPECT_EQ(way.Text(), "/t/a/b c");
  way.Pop();
  EXPECT_EQ(way.Text(), "/t/a");
  EXPECT_EQ(way.Climbed(Climb::Gone), Climb::Gone);
  EXPECT_TRUE(way.lost);
  EXPECT_TRUE(way.NeedsTop());
  way.MovedTo("/u", "/u");
  EXPECT_FALSE(way.lost);
  EXPECT_EQ(way.Depth(), 0u);
  EXPECT_EQ(way.Text(), "/u");
  EXPECT_EQ(way.topText, "/u");
}

}  // namespace
