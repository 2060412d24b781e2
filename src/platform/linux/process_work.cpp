#include "platform/linux/process_work.h"

#include <QByteArray>
#include <QFile>
#include <QList>

namespace tavrolin {

namespace {

QByteArray procFile(qint64 processId, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(processId).arg(QLatin1StringView(name)));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(4096);
}

// utime and stime, fields 14 and 15 of /proc/<pid>/stat, counted after the command's closing
// parenthesis (the command itself may hold blanks and parentheses).
qint64 processorTicks(qint64 processId) {
    const QByteArray stat = procFile(processId, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) {
        return 0;
    }
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is the state (field 3), so field n is fields[n - 3].
    if (fields.size() < 13) {
        return 0;
    }
    return fields[11].toLongLong() + fields[12].toLongLong();
}

qint64 bytesWritten(qint64 processId) {
    for (const QByteArray& line : procFile(processId, "io").split('\n')) {
        if (line.startsWith("wchar:")) {
            return line.mid(6).trimmed().toLongLong();
        }
    }
    return 0;
}

}  // namespace

ProcessWork workOfProcesses(const std::vector<qint64>& processIds) {
    ProcessWork work;
    for (const qint64 processId : processIds) {
        if (processId > 0) {
            work.processorTicks += processorTicks(processId);
            work.bytesWritten += bytesWritten(processId);
        }
    }
    return work;
}

std::vector<qint64> processTree(qint64 processId) {
    std::vector<qint64> tree;
    if (processId <= 0) {
        return tree;
    }
    tree.push_back(processId);
    for (std::size_t i = 0; i < tree.size() && tree.size() < 256; ++i) {
        const QByteArray children =
            procFile(tree[i], QStringLiteral("task/%1/children").arg(tree[i]).toLatin1().constData());
        for (const QByteArray& child : children.split(' ')) {
            bool ok = false;
            const qint64 id = child.trimmed().toLongLong(&ok);
            if (ok && id > 0) {
                tree.push_back(id);
            }
        }
    }
    return tree;
}

}  // namespace tavrolin
