#pragma once

#include "platform/power_assertion.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace tavrolin {

// Keeps the display from blanking for lack of activity. Where the desktop runs a screen saver
// service (org.freedesktop.ScreenSaver on the session bus) the assertion is an Inhibit cookie
// of that service, tied to our bus connection; otherwise the X server's own screen saver (and
// power saving) is suspended with XScreenSaverSuspend over an X connection of our own, which
// the server resumes when the connection closes. Ids: the service's cookie, or a counter for
// X suspensions.
class DisplaySleepInhibitor final : public PowerAssertionProviding {
public:
    static constexpr int callTimeoutMilliseconds = 2000;

    enum class Mechanism { screenSaverService, xScreenSaverSuspend };

    // An empty address means $DBUS_SESSION_BUS_ADDRESS, read when the inhibitor is made.
    // The X display is the one named by $DISPLAY.
    explicit DisplaySleepInhibitor(QString sessionBusAddress = {});
    ~DisplaySleepInhibitor() override;
    DisplaySleepInhibitor(const DisplaySleepInhibitor&) = delete;
    DisplaySleepInhibitor& operator=(const DisplaySleepInhibitor&) = delete;

    QCoro::Task<PowerAssertionCreation> createAssertion(QString name) override;
    QCoro::Task<int> releaseAssertion(std::uint32_t id) override;

    // How a held assertion was taken; absent for an id not held.
    std::optional<Mechanism> mechanismOf(std::uint32_t id) const;

private:
    struct XSuspension;

    struct ServiceInhibition {
        PowerAssertionCreation creation;
        bool serviceExists = false;
    };
    static ServiceInhibition unavailableService(QString reason);
    QCoro::Task<ServiceInhibition> inhibitThroughService(QString name);
    PowerAssertionCreation suspendXScreenSaver();
    QCoro::Task<int> uninhibitThroughService(std::uint32_t cookie);
    int resumeXScreenSaver();

    QString busAddress_;
    QString connectionName_;
    std::unique_ptr<XSuspension> x_;
    std::uint32_t xCounter_ = 0;
    std::map<std::uint32_t, Mechanism> held_;
};

}  // namespace tavrolin
