#pragma once

#include "platform/synthetic_input.h"

#include <memory>

namespace tavrolin {

// Synthetic input through the XTEST extension on the X display named by $DISPLAY, over a
// connection of its own (independent of the Qt platform plugin in use).
class XTestSyntheticInput final : public SyntheticInput {
public:
    XTestSyntheticInput();
    ~XTestSyntheticInput() override;
    XTestSyntheticInput(const XTestSyntheticInput&) = delete;
    XTestSyntheticInput& operator=(const XTestSyntheticInput&) = delete;

    // False when the display cannot be reached or has no XTEST extension; every call then
    // answers false (or absent) without sending anything.
    bool isAvailable() const;

    bool sendKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key) override;
    std::optional<HeldKeys> heldKeys() override;
    std::optional<QPoint> pointerPosition() override;
    bool movePointerTo(QPoint position) override;

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

}  // namespace tavrolin
