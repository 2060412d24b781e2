// What /proc tells of a process: whether it holds a pseudo-terminal master.
#include "platform/desktop_backend.h"

#include <QProcess>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

using namespace tavrolin;

// A terminal emulator holds the master of its terminal; a program started beside it (the
// master closed on exec) holds none; a process that is not there is not known.
TEST(ProcProcessTable, APseudoTerminalMasterIsSeenInItsHolderOnly) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    QProcess other;
    other.start("sleep", {"30"});
    ASSERT_TRUE(other.waitForStarted(5000));

    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    EXPECT_EQ(processes->holdsPseudoTerminalMaster(getpid()), true);
    EXPECT_EQ(processes->holdsPseudoTerminalMaster(other.processId()), false);
    EXPECT_EQ(processes->holdsPseudoTerminalMaster(qint64(1) << 30), std::nullopt) << "beyond any process id";
    EXPECT_EQ(processes->holdsPseudoTerminalMaster(0), std::nullopt);

    other.kill();
    other.waitForFinished(3000);
    close(master);
}
