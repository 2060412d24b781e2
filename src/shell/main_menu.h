#pragma once

#include <QObject>

namespace tavrolin {

// The application-wide commands of the application's own windows. An X11 desktop has no
// global menu bar, so there is no menu to show: "Hide Tavrolin" is the key Control+H in any of
// our windows, and the edit commands (undo, redo, cut, copy, paste, select all with their
// usual Control keys) are the ones Qt's text widgets already have.
class MainMenu final : public QObject {
    Q_OBJECT
public:
    explicit MainMenu(QObject* parent = nullptr);
    ~MainMenu() override;

    // Starts listening for the application's keys. Runs once.
    void install();
    // "Hide Tavrolin": hides every visible top-level window of the application.
    static void hideApplication();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool installed_ = false;
};

}  // namespace tavrolin
