// Which processes hold a pseudo-terminal master, read from /proc.
#include "platform/linux/proc_process_files.h"

#include <QProcess>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

using namespace tavrolin;

// A terminal emulator holds the master of its terminal; a program started beside it (the
// master closed on exec) holds none; a process that is not there is not known.
TEST(ProcProcessFiles, APseudoTerminalMasterIsSeenInItsHolderOnly) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    QProcess other;
    other.start("sleep", {"30"});
    ASSERT_TRUE(other.waitForStarted(5000));

    const ProcProcessFiles files;
    EXPECT_EQ(files.holdsPseudoTerminalMaster(getpid()), true);
    EXPECT_EQ(files.holdsPseudoTerminalMaster(other.processId()), false);
    EXPECT_EQ(files.holdsPseudoTerminalMaster(qint64(1) << 30), std::nullopt) << "beyond any process id";
    EXPECT_EQ(files.holdsPseudoTerminalMaster(0), std::nullopt);

    other.kill();
    other.waitForFinished(3000);
    close(master);
}
