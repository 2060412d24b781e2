#pragma once

#include <QObject>

namespace tavrolin {

// Notices from the system that long timers need: the machine woke from sleep (timers run on a
// clock that stops while it sleeps), and the wall clock was set or the local time zone changed.
// Signals arrive on the thread that owns the object.
class SystemEventMonitoring : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    void didWake();
    void clockDidChange();
};

}  // namespace tavrolin
