#pragma once

#include "settings_window/settings_view.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// The settings window: a fixed 760 x 660 window titled "Settings" holding one SettingsView over
// a working copy of the settings. Built hidden; the shell shows it. Every closing (Cancel,
// Escape, a successful save, the title bar's button) reports `onClose` once; the shell then
// drops the controller, later, never inside that report.
class SettingsWindowController final : public QObject {
    Q_OBJECT
public:
    static constexpr int windowWidth = 760;
    static constexpr int windowHeight = 660;

    SettingsWindowController(const AppSettings& settings, SettingsView::SaveCallback onSave,
                             std::function<void()> onExportDiagnostics, std::function<void()> onClose,
                             std::function<void(bool recording)> onShortcutRecordingChanged = {},
                             SettingsViewServices services = {}, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    QWidget* window() const { return window_.get(); }
    SettingsView* view() const { return view_; }
    // Shows the window centred on the screen (the first time), raised and active.
    void showWindow();

private:
    void windowWillClose();

    SettingsView::SaveCallback onSave_;
    std::function<void()> onExportDiagnostics_;
    std::function<void()> onClose_;
    std::unique_ptr<QWidget> window_;
    SettingsView* view_ = nullptr;
    bool centred_ = false;
};

}  // namespace tavrolin
