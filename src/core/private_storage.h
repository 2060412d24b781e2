#pragma once

#include <QString>

namespace tavrolin {

// What the program keeps (settings, the log, the instance lock) tells what the user wrote, which
// languages they use and when they work: only they may read it. Folders are made 0700 and files
// 0600 whatever the umask, and those of ours that an earlier version or a generous umask left
// open to others are closed again. A place that is not ours (another user's, or one every user
// shares, with the sticky bit as /tmp) is never changed.

// Creates `folder` and every missing folder above it with mode 0700, and closes an existing
// `folder` of ours to others. Answers 0, or the errno of the failure (ENOTDIR when something
// other than a folder stands at `folder`).
int makePrivateFolder(const QString& folder);

// Takes read, write and search from group and others on a file or folder of ours; the owner's
// own bits are kept (a file the user made read-only stays so). Nothing happens to a path that
// does not exist or is not ours.
void closeToOtherUsers(const QString& path);
void closeToOtherUsers(int descriptor);

}  // namespace tavrolin
