#pragma once

namespace tavrolin {

// Whether a compositing manager draws the desktop now. Without one no window can be see-through:
// whatever part of a window is left unpainted shows black over the windows behind it, and only
// the window's shape lets them show. A compositor may start or stop at any time: ask each time.
class CompositingManagerDetecting {
public:
    virtual ~CompositingManagerDetecting() = default;
    // The display server answers this itself: no other program is waited for.
    virtual bool isCompositingManagerRunning() = 0;
};

}  // namespace tavrolin
