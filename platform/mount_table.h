// The mounts of a Linux system as /proc/self/mountinfo lists them, and which
// file systems may change without this machine's change notifications ever
// telling: shares (SMB/CIFS, NFS), WSL's Windows drives (9p, drvfs), virtual
// machines' shared folders (vboxsf, virtiofs, VMware's) and FUSE file
// systems, whose changes made beneath or beside them reach no notification.
// Plain text work, so that it is the same on every build.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace os {

struct MountEntry {
  unsigned major = 0;  // the device its files report
  unsigned minor = 0;
  std::string mountPoint;  // with mountinfo's octal escapes (\040 for a space) undone
  std::string fileSystem;  // its type, with the subtype for FUSE ("fuse.sshfs")
};

// The mounts a mountinfo text lists; a line that does not read as one is
// passed over.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Whether changes to a file system of this type may go unreported here.
bool ChangesMayGoUnreported(std::string_view fileSystem);

}  // namespace os
