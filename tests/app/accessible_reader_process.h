#pragma once

// A second accessibility client beside the program under test, as a screen reader is: the test
// reader (tests/support/apps/accessible_reader.c) reading another program's objects every
// 100 ms until the test ends.
#include "support/async.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <chrono>

namespace tavrolin::test {

class AccessibleReaderProcess {
public:
    explicit AccessibleReaderProcess(qint64 pid) {
        process_.start(
            QDir(QCoreApplication::applicationDirPath()).filePath("../support/tavrolin_test_accessible_reader"),
            {QString::number(pid), QStringLiteral("100")});
    }
    ~AccessibleReaderProcess() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    AccessibleReaderProcess(const AccessibleReaderProcess&) = delete;
    AccessibleReaderProcess& operator=(const AccessibleReaderProcess&) = delete;

    // Whether its first reading came.
    bool isReading() {
        return process_.waitForStarted(5000) &&
               waitUntil([&] { return process_.canReadLine(); }, std::chrono::seconds(30));
    }
    // Its readings so far, each "walks N objects M searched K": M objects of the program's first
    // table, K read on the way to it (every object where the program shows no table).
    QStringList readings() {
        lines_ << QString::fromUtf8(process_.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return lines_;
    }
    // How many readings took in more than `least` objects of the table, or on the way to it.
    int readingsOfTable(int least) { return count(3, least); }
    int readingsOnTheWay(int least) { return count(5, least); }

private:
    int count(int field, int least) {
        const QStringList all = readings();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const QString& reading) {
            return reading.section(' ', field, field).toInt() > least;
        }));
    }

    QProcess process_;
    QStringList lines_;
};

}  // namespace tavrolin::test
