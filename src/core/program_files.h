#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tavrolin {

// Which build the running program comes from, whether it runs from inside that build's folder,
// and which of the files that decide what it loads it may believe.

// The identity of the build this program comes from: made once per build folder, sealed into
// every engine module that build makes.
QString buildIdentity();

// The folder of the running program's executable (symbolic links resolved); empty when it cannot
// be told.
QString runningExecutableFolder();

// The build folder of `identity` that `executableFolder` lies in: the nearest folder on the way up
// whose build identity file holds `identity` and could be changed by no other user than this one
// and root (openTrustedFile). None for a program anywhere else, installed or copied: a file that
// another user planted above it does not make it one of a build.
std::optional<QString> enclosingBuildFolder(const QString& executableFolder, const QString& identity = buildIdentity());

// Opens `path` for reading, or answers -1 with the reason in `error` when another user than this
// one and root could change what it holds: the file and every folder on the way from "/" to it
// must belong to this user or root and be writable by no one else, and so must every symbolic
// link followed on the way, judged before it is followed (a link of another user is refused
// whatever it points at). A
// group may write only when it is this user's own private group. A folder with the sticky bit,
// such as /tmp, may be writable by all: no one else can rename or remove what is ours in it. The
// descriptor is closed on exec.
int openTrustedFile(const QString& path, QString& error);

// The first `maximumBytes` of the file at `path` when openTrustedFile accepts it; none, with the
// reason in `error`, otherwise.
std::optional<QByteArray> readTrustedFile(const QString& path, qint64 maximumBytes, QString& error);

}  // namespace tavrolin
