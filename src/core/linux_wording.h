#pragma once

#include <QString>
#include <QStringView>

#include <span>
#include <string_view>

namespace tavrolin {

// Some of the program's fixed texts were first written for a desktop that has places, keys,
// versions and frameworks a Linux user does not have ("System Settings > Privacy & Security",
// "on this Mac", "macOS 26", Option/Command). Each such text is written in the code as it
// stands and passed through linuxWording() where it is used; the replacement a Linux user reads
// lives in the one table in linux_wording.cpp.
//
// Adding a rewording: append a row { original, replacement } to the section of your subsystem
// in kLinuxRewordings. Both sides are UTF-8 and may hold the placeholders %1, %2, ... in the same
// roles (fill them after the lookup: linuxWording(u"... %1 ...").arg(a, b)). Stored keys, JSON
// field names, error codes and log formats are never reworded.
struct LinuxRewording {
    std::string_view original;
    std::string_view replacement;
};

// The Linux wording of a text, or the text itself when it needs none.
QString linuxWording(QStringView original);
QString linuxWording(std::string_view originalUtf8);

// Every row of the table, for tests that check no reworded text is left behind.
std::span<const LinuxRewording> linuxRewordings();

}  // namespace tavrolin
