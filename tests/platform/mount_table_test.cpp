// Reading /proc/self/mountinfo lines, and which file systems a watch polls.
#include "platform/mount_table.h"

#include <gtest/gtest.h>

namespace {

TEST(MountTable, ReadsEachMountAndSaysWhichArePolled) {
  struct Row {
    const char* line;
    unsigned major, minor;
    const char* mountPoint;
    const char* fileSystem;
    bool polled;
  };
  const Row rows[] = {
      {"56 47 0:46 / /mnt/c rw,noatime - 9p drvfs rw,dirsync,aname=drvfs;path=C:\\;uid=1000", 0,
       46, "/mnt/c", "9p", true},
      {"15 2 0:15 / /mnt/d rw,noatime - drvfs D:\\ rw", 0, 15, "/mnt/d", "drvfs", true},
      {"120 30 0:52 / /mnt/share rw,relatime - cifs //server/mods rw,vers=3.0", 0, 52, "/mnt/share",
       "cifs", true},
      {"130 30 0:53 / /srv/nfs rw,relatime shared:70 master:3 - nfs4 server:/export rw", 0, 53,
       "/srv/nfs", "nfs4", true},
      {"30 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro", 8, 1, "/", "ext4",
       false},
      {"40 30 0:35 / /tmp rw,nosuid,nodev shared:20 - tmpfs tmpfs rw", 0, 35, "/tmp", "tmpfs", false},
      {"140 30 0:54 / /home/u/My\\040Mods rw,nosuid shared:80 - fuse.sshfs u@host:/mods rw", 0, 54,
       "/home/u/My Mods", "fuse.sshfs", true},
      {"141 30 0:55 /sub /mnt/tab\\011and\\134back rw - fuse.bindfs /src rw", 0, 55,
       "/mnt/tab\tand\\back", "fuse.bindfs", true},
      {"142 30 259:3 / /data rw - fuseblk /dev/nvme0n1p3 rw", 259, 3, "/data", "fuseblk", false},
  };
  std::string text;
  for (const Row& row : rows) text.append(row.line).push_back('\n');
  // Lines that do not read as mounts are passed over.
  text += "garbage\n\n12 1 x:y / /bad rw - ext4 /dev/x rw\n13 1 0:1 / /cut rw shared:1\n";
  const std::vector<os::MountEntry> mounts = os::ParseMountInfo(text);
  ASSERT_EQ(mounts.size(), std::size(rows));
  for (size_t i = 0; i < mounts.size(); ++i) {
    SCOPED_TRACE(rows[i].line);
    EXPECT_EQ(mounts[i].major, rows[i].major);
    EXPECT_EQ(mounts[i].minor, rows[i].minor);
    EXPECT_EQ(mounts[i].mountPoint, rows[i].mountPoint);
    EXPECT_EQ(mounts[i].fileSystem, rows[i].fileSystem);
    EXPECT_EQ(os::ChangesMayGoUnreported(mounts[i].fileSystem), rows[i].polled);
  }
}

}  // namespace
