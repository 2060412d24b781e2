// The properties of a window as the window list reads them; any X client can write any type,
// format and length under any of these names. Input: for _NET_WM_PID, WM_CLASS, _NET_WM_NAME,
// WM_NAME, _NET_WM_WINDOW_OPACITY and _NET_FRAME_EXTENTS in turn a type byte (0: missing,
// 1: UTF8_STRING, else that atom), a format byte and a length-prefixed value; then the client's
// origin (two signed 16-bit numbers) and size (two unsigned ones), as the server reports them.
#include "fuzz_support.h"
#include "platform/linux/x11_desktop.h"

using namespace tavrolin;
using x11::WindowProperty;

namespace {

constexpr std::uint32_t utf8StringAtom = 1000;

WindowProperty takeProperty(fuzz::InputReader& input) {
    WindowProperty property;
    const std::uint8_t type = input.byte();
    property.type = type == 1 ? utf8StringAtom : type;
    property.format = input.byte();
    property.bytes = input.bytes(input.word());
    return property;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const WindowProperty pid = takeProperty(input);
    const WindowProperty wmClass = takeProperty(input);
    const WindowProperty netName = takeProperty(input);
    const WindowProperty wmName = takeProperty(input);
    const WindowProperty opacity = takeProperty(input);
    const WindowProperty extents = takeProperty(input);
    const QPoint origin(static_cast<std::int16_t>(input.word()), static_cast<std::int16_t>(input.word()));
    const QSize clientSize(input.word(), input.word());

    if (const auto value = x11::windowProcessID(pid)) {
        fuzz::require(*value > 0, "a process ID that is not positive");
    }
    if (const auto name = x11::windowClassName(wmClass)) {
        fuzz::require(!name->isEmpty() && !name->contains(QChar(0)), "an empty application name, or one with NUL");
        fuzz::require(fuzz::isValidUtf16(*name), "an application name that is not valid UTF-16");
    }
    if (const auto title = x11::windowTitle(netName, wmName, utf8StringAtom)) {
        fuzz::require(!title->contains(QChar(0)), "a title with NUL");
        fuzz::require(fuzz::isValidUtf16(*title), "a title that is not valid UTF-16");
    }
    if (const auto alpha = x11::windowOpacity(opacity)) {
        fuzz::require(*alpha >= 0.0 && *alpha <= 1.0, "an opacity outside 0...1");
    }
    for (const auto& property : {pid, wmClass, netName, wmName, opacity, extents}) {
        fuzz::require(property.cardinals().size() <= static_cast<std::size_t>(property.bytes.size()) / 4,
                      "more items than the value holds");
    }

    // The frame covers the client and never exceeds X's largest window.
    const QRect frame = x11::frameBounds(origin, clientSize, extents.cardinals());
    fuzz::require(frame.width() >= 0 && frame.width() <= 65535 && frame.height() >= 0 && frame.height() <= 65535,
                  "a frame larger than any window");
    fuzz::require(frame.x() <= origin.x() && frame.y() <= origin.y(), "a frame that does not start at the client");
    fuzz::require(frame.width() >= std::min(clientSize.width(), 65535 - (origin.x() - frame.x())) &&
                      frame.height() >= std::min(clientSize.height(), 65535 - (origin.y() - frame.y())),
                  "a frame narrower than its client");
    return 0;
}
