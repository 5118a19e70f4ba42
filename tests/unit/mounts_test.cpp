// The mount test where the kernel gives no mount IDs: what the mount table
// says, and the device before it.
#include "platform/posix/linux/mounts.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

namespace {

MountTag Tag(bool known, uint64_t mount, dev_t device) { return {mount, known, device}; }

TEST(Mounts, AMountIdCountsOnlyWhereTheKernelGaveIt) {
  struct statx sx = {};
  sx.stx_mask = STATX_BASIC_STATS;
  sx.stx_mnt_id = 77;  // left over: no mount ID was asked of this kernel
  sx.stx_dev_major = 8;
  sx.stx_dev_minor = 3;
  struct stat st;
  MountTag tag;
  FromStatx(sx, st, tag);
  EXPECT_FALSE(tag.mountKnown);
  EXPECT_EQ(tag.device, makedev(8, 3));
  sx.stx_mask |= STATX_MNT_ID;
  FromStatx(sx, st, tag);
  EXPECT_TRUE(tag.mountKnown);
  EXPECT_EQ(tag.mount, 77u);
}

TEST(Mounts, WithoutMountIdsTheDeviceThenTheMountTableTell) {
  const dev_t disk = makedev(8, 1), other = makedev(8, 2);
  int asked = 0;
  auto point = [&asked](bool is) {
    return [&asked, is] {
      ++asked;
      return is;
    };
  };
  // Mount fields the kernel did not fill in agree by chance.
  EXPECT_FALSE(SameMountBy(Tag(false, 0, disk), Tag(false, 0, other), point(false)));
  EXPECT_FALSE(SameMountBy(Tag(true, 5, disk), Tag(false, 5, other), point(false)));
  EXPECT_FALSE(SameMountBy(Tag(false, 5, disk), Tag(true, 5, other), point(false)));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(SameMountBy(Tag(false, 0, disk), Tag(false, 0, disk), point(false)));
  EXPECT_FALSE(SameMountBy(Tag(false, 0, disk), Tag(false, 0, disk), point(true)));
  EXPECT_EQ(asked, 2);
  // Given both, the IDs alone decide: a bind mount keeps its device.
  EXPECT_FALSE(SameMountBy(Tag(true, 5, disk), Tag(true, 6, disk), point(false)));
  EXPECT_TRUE(SameMountBy(Tag(true, 5, disk), Tag(true, 5, disk), point(true)));
  EXPECT_EQ(asked, 2);
}

TEST(Mounts, AMountTableLineNamesItsDeviceAndItsMountPoint) {
  // The root within the file system differs from the mount point of a bind
  // mount; a space in a path is written \040.
  MountPoint point;
  ASSERT_TRUE(ParseMountInfoLine(
      "36 35 98:17 /srv/a /mnt/my\\040share rw,noatime master:1 - ext3 /dev/root rw\n", point));
  EXPECT_EQ(point.device, makedev(98, 17));
  EXPECT_EQ(point.path, "/mnt/my share");
  EXPECT_FALSE(ParseMountInfoLine("\n", point));
}

}  // namespace
