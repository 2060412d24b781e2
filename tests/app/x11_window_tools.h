#pragma once

#include "support/session/tavrolin_process_home.h"

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace tavrolin::test {

// Runs a desktop tool and answers what it printed, trimmed.
inline QString runTool(const QString& program, const QStringList& arguments) {
    return toolOutput(program, arguments);
}

// A window's place on the root window (without its frame).
inline QRect windowGeometry(const QString& window) {
    QRect rect;
    for (const QString& line : runTool("xwininfo", {"-id", window}).split('\n')) {
        const QString value = line.section(':', 1).trimmed();
        if (line.contains("Absolute upper-left X"))
            rect.moveLeft(value.toInt());
        if (line.contains("Absolute upper-left Y"))
            rect.moveTop(value.toInt());
        if (line.contains("Width:"))
            rect.setWidth(value.toInt());
        if (line.contains("Height:"))
            rect.setHeight(value.toInt());
    }
    return rect;
}

}  // namespace tavrolin::test
