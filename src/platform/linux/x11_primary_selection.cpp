#include "core/app_log.h"
#include "platform/desktop_backend.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/linux/x11_clipboard_reader.h"
#include "platform/primary_selection.h"

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent>

namespace tavrolin {

namespace {

// Qt names the hidden window through which it owns selections this way, and keeps owning
// PRIMARY after its text is deselected by keyboard.
bool isQtSelectionOwner(const QString& windowName) {
    return windowName.startsWith(QLatin1String("Qt Selection Owner for"));
}

class X11PrimarySelectionReader final : public PrimarySelectionReading {
public:
    explicit X11PrimarySelectionReader(std::shared_ptr<GlobalInputMonitoring> monitoring)
        : monitoring_(std::move(monitoring)), state_(std::make_shared<State>()) {
        state_->thread.setMaxThreadCount(1);
        state_->thread.setExpiryTimeout(-1);
        if (monitoring_) {
            const std::shared_ptr<Presses> presses = presses_;
            pressMonitor_ = monitoring_->addRawInputMonitor([presses](const RawInputEvent& event) {
                // A click on our own windows (the tray icon and its menu) deselects nothing.
                if (event.kind == RawInputEvent::Kind::buttonPress && event.detail == 1 && !event.overOwnWindow) {
                    presses->last = static_cast<std::uint32_t>(event.time.count());
                }
            });
        }
    }

    QCoro::Task<std::optional<PrimarySelectionRead>> readPrimarySelection() override {
        const std::shared_ptr<State> state = state_;
        const auto read = [state] {
            if (!state->reader) {
                state->reader = std::make_unique<X11ClipboardReader>("PRIMARY");
            }
            return state->reader->readOwnedText(std::chrono::steady_clock::now() + readBound);
        };
        const auto start = std::chrono::steady_clock::now();
        QFuture<std::optional<X11ClipboardReader::OwnedText>> future = QtConcurrent::run(&state->thread, read);
        const std::optional<X11ClipboardReader::OwnedText> owned = co_await future;
        if (!owned) {
            if (std::chrono::steady_clock::now() - start >= readBound) {
                AppLog::app().notice(
                    QStringLiteral("primary selection owner did not answer within %1 ms").arg(readBound.count()));
            }
            co_return std::nullopt;
        }
        PrimarySelectionRead result;
        result.text = owned->text;
        result.acquiredAt = owned->acquiredAt;
        result.ownerProcessId = owned->ownerProcessId.value_or(0);
        result.ownerIsFrontWindowClient = owned->ownerIsActiveWindowClient;
        result.ownerKeepsDeselectedText = isQtSelectionOwner(owned->ownerWindowName);
        result.pressesWatched = pressMonitor_ != nullptr;
        result.lastPrimaryButtonPressAt = presses_->last;
        co_return result;
    }

private:
    struct State {
        QThreadPool thread;                          // one thread: the reads, in order
        std::unique_ptr<X11ClipboardReader> reader;  // used on that thread only
        ~State() { thread.waitForDone(); }
    };
    struct Presses {
        std::optional<std::uint32_t> last;  // main thread
    };

    std::shared_ptr<GlobalInputMonitoring> monitoring_;
    std::shared_ptr<Presses> presses_ = std::make_shared<Presses>();
    std::unique_ptr<GlobalMouseMonitor> pressMonitor_;
    std::shared_ptr<State> state_;
};

}  // namespace

std::shared_ptr<PrimarySelectionReading> makeSystemPrimarySelectionReader(
    std::shared_ptr<GlobalInputMonitoring> monitoring) {
    return std::make_shared<X11PrimarySelectionReader>(std::move(monitoring));
}

}  // namespace tavrolin
