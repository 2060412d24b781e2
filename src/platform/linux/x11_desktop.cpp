#include "platform/linux/x11_desktop.h"

#include "platform/desktop_backend.h"
#include "platform/linux/x11_client_process.h"
#include "platform/linux/x11_pixels.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

namespace {

// Frees an XCB reply when it goes out of scope.
struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

enum Atom : std::size_t {
    NET_SUPPORTING_WM_CHECK,
    NET_CLIENT_LIST_STACKING,
    NET_CLIENT_LIST,
    NET_CURRENT_DESKTOP,
    NET_WM_PID,
    NET_WM_NAME,
    NET_WM_STATE,
    NET_WM_STATE_HIDDEN,
    NET_WM_DESKTOP,
    NET_WM_WINDOW_TYPE,
    NET_WM_WINDOW_OPACITY,
    NET_FRAME_EXTENTS,
    UTF8_STRING,
    TYPE_DESKTOP,
    TYPE_DOCK,
    TYPE_TOOLBAR,
    TYPE_MENU,
    TYPE_UTILITY,
    TYPE_SPLASH,
    TYPE_DIALOG,
    TYPE_DROPDOWN_MENU,
    TYPE_POPUP_MENU,
    TYPE_TOOLTIP,
    TYPE_NOTIFICATION,
    TYPE_COMBO,
    TYPE_DND,
    TYPE_NORMAL,
    AtomCount
};

constexpr std::array<const char*, AtomCount> atomNames = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CLIENT_LIST",
    "_NET_CURRENT_DESKTOP",
    "_NET_WM_PID",
    "_NET_WM_NAME",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_DESKTOP",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_OPACITY",
    "_NET_FRAME_EXTENTS",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_NORMAL",
};

// Layers of the window list: 0 is where application windows live.
constexpr int normalLayer = 0;
constexpr int dockLayer = 20;
constexpr int popUpLayer = 101;
constexpr int notificationLayer = 200;
constexpr int tooltipLayer = 500;
constexpr int desktopLayer = -1000;

// Properties longer than this are cut (titles, type lists): no window needs more.
constexpr std::uint32_t maximumPropertyWords = 4096;

// One open display connection with its atoms. Thread-safe: XCB is, and the cached state is
// written once under the mutex.
class Display {
public:
    static Display& shared() {
        static Display display;
        return display;
    }

    // Null when no display can be opened.
    xcb_connection_t* connection() {
        std::lock_guard lock(mutex_);
        if (!opened_) {
            opened_ = true;
            open();
        }
        return connection_;
    }

    xcb_window_t root() const { return root_; }
    const xcb_screen_t* screen() const { return screen_; }
    const xcb_setup_t* setup() const { return connection_ ? xcb_get_setup(connection_) : nullptr; }
    xcb_atom_t atom(Atom which) const { return atoms_[which]; }

    ~Display() {
        if (connection_) {
            xcb_disconnect(connection_);
        }
    }

private:
    Display() = default;

    void open() {
        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return;
        }
        auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && iterator.rem; ++i) {
            xcb_screen_next(&iterator);
        }
        if (!iterator.rem) {
            xcb_disconnect(connection);
            return;
        }
        screen_ = iterator.data;
        root_ = screen_->root;

        std::array<xcb_intern_atom_cookie_t, AtomCount> cookies{};
        for (std::size_t i = 0; i < AtomCount; ++i) {
            cookies[i] =
                xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(atomNames[i])), atomNames[i]);
        }
        for (std::size_t i = 0; i < AtomCount; ++i) {
            Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
            atoms_[i] = reply ? reply->atom : XCB_NONE;
        }
        connection_ = connection;
    }

    std::mutex mutex_;
    bool opened_ = false;
    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    std::array<xcb_atom_t, AtomCount> atoms_{};
};

xcb_get_property_cookie_t requestProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    return xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maximumPropertyWords);
}

WindowProperty takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    WindowProperty property;
    if (!reply || reply->type == XCB_NONE) {
        return property;
    }
    property.type = reply->type;
    property.format = reply->format;
    const int length = xcb_get_property_value_length(reply.get());
    if (length > 0) {
        property.bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
    }
    return property;
}

WindowProperty readProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    return takeProperty(c, requestProperty(c, window, property));
}

std::optional<xcb_window_t> windowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    const auto value = readProperty(c, window, property).cardinal();
    if (!value || *value == XCB_NONE) {
        return std::nullopt;
    }
    return *value;
}

// A window manager is running when the root's check window names itself: a manager that
// exited leaves the root property behind, pointing at a window that is gone or says nothing.
bool windowManagerIsRunning(Display& display, xcb_connection_t* c) {
    const auto check = windowProperty(c, display.root(), display.atom(NET_SUPPORTING_WM_CHECK));
    if (!check) {
        return false;
    }
    const auto self = windowProperty(c, *check, display.atom(NET_SUPPORTING_WM_CHECK));
    return self && *self == *check;
}

std::optional<QString> processName(std::int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QString name = QString::fromUtf8(file.readAll()).trimmed();
    return name.isEmpty() ? std::nullopt : std::optional(name);
}

// The window list in stacking order, top-most first.
std::vector<xcb_window_t> stackedWindows(Display& display, xcb_connection_t* c, bool managed) {
    std::vector<std::uint32_t> windows;
    if (managed) {
        windows = readProperty(c, display.root(), display.atom(NET_CLIENT_LIST_STACKING)).cardinals();
        if (windows.empty()) {
            windows = readProperty(c, display.root(), display.atom(NET_CLIENT_LIST)).cardinals();
        }
    } else {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, display.root()), nullptr));
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
        }
    }
    std::reverse(windows.begin(), windows.end());
    return {windows.begin(), windows.end()};
}

int layerFor(Display& display, const std::vector<std::uint32_t>& types, bool overrideRedirect) {
    // The first type the window lists that we know decides (the list is in preference order).
    for (const auto type : types) {
        const auto is = [&](Atom atom) { return type == display.atom(atom); };
        if (is(TYPE_NORMAL) || is(TYPE_DIALOG) || is(TYPE_UTILITY) || is(TYPE_TOOLBAR) || is(TYPE_MENU)) {
            return normalLayer;
        }
        if (is(TYPE_DOCK)) {
            return dockLayer;
        }
        if (is(TYPE_DESKTOP)) {
            return desktopLayer;
        }
        if (is(TYPE_NOTIFICATION) || is(TYPE_SPLASH)) {
            return notificationLayer;
        }
        if (is(TYPE_TOOLTIP)) {
            return tooltipLayer;
        }
        if (is(TYPE_POPUP_MENU) || is(TYPE_DROPDOWN_MENU) || is(TYPE_COMBO) || is(TYPE_DND)) {
            return popUpLayer;
        }
    }
    // Unmanaged windows that name no type are menus and tooltips of their applications.
    return overrideRedirect ? popUpLayer : normalLayer;
}

struct PendingWindow {
    xcb_window_t window;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t pid, wmClass, netName, wmName, state, desktop, type, opacity, extents;
    std::optional<xcb_res_query_client_ids_cookie_t> serverPid;
};

std::vector<WindowListEntry> readWindowList(Display& display) {
    xcb_connection_t* c = display.connection();
    if (!c) {
        return {};
    }
    const bool managed = windowManagerIsRunning(display, c);
    const std::vector<ScreenScale> scales = screenScales();
    const auto currentDesktop = readProperty(c, display.root(), display.atom(NET_CURRENT_DESKTOP)).cardinal();

    // Ask for everything first and collect the answers afterwards: one round trip in all.
    std::vector<PendingWindow> pending;
    for (const xcb_window_t window : stackedWindows(display, c, managed)) {
        pending.push_back(PendingWindow{
            window,
            xcb_get_window_attributes(c, window),
            xcb_get_geometry(c, window),
            xcb_translate_coordinates(c, window, display.root(), 0, 0),
            requestProperty(c, window, display.atom(NET_WM_PID)),
            requestProperty(c, window, XCB_ATOM_WM_CLASS),
            requestProperty(c, window, display.atom(NET_WM_NAME)),
            requestProperty(c, window, XCB_ATOM_WM_NAME),
            requestProperty(c, window, display.atom(NET_WM_STATE)),
            requestProperty(c, window, display.atom(NET_WM_DESKTOP)),
            requestProperty(c, window, display.atom(NET_WM_WINDOW_TYPE)),
            requestProperty(c, window, display.atom(NET_WM_WINDOW_OPACITY)),
            requestProperty(c, window, display.atom(NET_FRAME_EXTENTS)),
            x11::localClientProcessRequest(c, window),
        });
    }

    std::vector<WindowListEntry> entries;
    for (const auto& p : pending) {
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, p.attributes, nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, p.origin, nullptr));
        const WindowProperty pid = takeProperty(c, p.pid);
        const WindowProperty wmClass = takeProperty(c, p.wmClass);
        const WindowProperty netName = takeProperty(c, p.netName);
        const WindowProperty wmName = takeProperty(c, p.wmName);
        const WindowProperty state = takeProperty(c, p.state);
        const WindowProperty desktop = takeProperty(c, p.desktop);
        const WindowProperty type = takeProperty(c, p.type);
        const WindowProperty opacity = takeProperty(c, p.opacity);
        const WindowProperty extents = takeProperty(c, p.extents);
        const std::optional<std::uint32_t> serverPid =
            p.serverPid ? x11::localClientProcessReply(c, *p.serverPid) : std::nullopt;

        // A window destroyed since the list was read answers nothing: leave it out.
        if (!attributes || !geometry || !origin) {
            continue;
        }
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            continue;
        }
        const auto states = state.cardinals();
        if (std::find(states.begin(), states.end(), display.atom(NET_WM_STATE_HIDDEN)) != states.end()) {
            continue;
        }
        const auto onDesktop = desktop.cardinal();
        if (onDesktop && currentDesktop && *onDesktop != 0xFFFFFFFFu && *onDesktop != *currentDesktop) {
            continue;
        }
        const int layer = layerFor(display, type.cardinals(), attributes->override_redirect);
        if (layer == desktopLayer) {
            continue;
        }

        WindowListEntry entry;
        entry.windowNumber = p.window;
        entry.isOnscreen = true;
        entry.layer = layer;
        // The process the X server knows, as the front application names it; the window's own
        // claim only where the server cannot tell.
        entry.ownerPID = p.serverPid ? validProcessID(serverPid) : windowProcessID(pid);
        entry.ownerName = windowClassName(wmClass);
        if (!entry.ownerName && entry.ownerPID) {
            entry.ownerName = processName(*entry.ownerPID);
        }
        entry.name = windowTitle(netName, wmName, display.atom(UTF8_STRING));
        entry.alpha = windowOpacity(opacity);
        // The frame the window manager draws around the client belongs to the window.
        // X's device pixels become the logical pixels everything above the platform works in.
        entry.bounds =
            deviceRectToLogical(QRectF(frameBounds(QPoint(origin->dst_x, origin->dst_y),
                                                   QSize(geometry->width, geometry->height), extents.cardinals())),
                                scales);
        entries.push_back(std::move(entry));
    }
    return entries;
}

class X11WindowList final : public WindowListProviding {
public:
    std::vector<WindowListEntry> onScreenWindows() override { return readWindowList(Display::shared()); }
};

// The displays from Qt's screen list (it follows RandR), in logical pixels; without a GUI
// application, the root window as one display.
std::vector<ShareableDisplay> currentDisplays(Display& display, std::optional<std::uint32_t>& primaryID) {
    std::vector<ShareableDisplay> displays;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const auto screens = QGuiApplication::screens();
        for (int i = 0; i < screens.size(); ++i) {
            const std::uint32_t id = static_cast<std::uint32_t>(i + 1);
            displays.push_back(ShareableDisplay{id, QRectF(screens.at(i)->geometry())});
            if (screens.at(i) == QGuiApplication::primaryScreen()) {
                primaryID = id;
            }
        }
    }
    if (displays.empty() && display.screen()) {
        displays.push_back(
            ShareableDisplay{1, QRectF(0, 0, display.screen()->width_in_pixels, display.screen()->height_in_pixels)});
        primaryID = 1;
    }
    return displays;
}

class X11ScreenCapture final : public ScreenCapturing {
public:
    ShareableContent shareableContent() override {
        Display& display = Display::shared();
        xcb_connection_t* c = display.connection();
        if (!c) {
            throw ScreenCaptureFailure("cannot open the X display");
        }
        ShareableContent content;
        for (const auto& entry : readWindowList(display)) {
            if (entry.windowNumber && entry.bounds) {
                content.windows.push_back(
                    ShareableWindow{*entry.windowNumber, entry.ownerPID, entry.name, *entry.bounds});
            }
        }
        content.displays = currentDisplays(display, content.mainDisplayID);
        Reply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, display.root()), nullptr));
        if (pointer && pointer->same_screen) {
            content.pointerLocation = devicePointToLogical(QPointF(pointer->root_x, pointer->root_y), screenScales());
        }
        return content;
    }

    // The content in logical pixels, with the device pixels per logical pixel of its screen.
    CaptureContentInfo contentInfo(const CaptureContentFilter& filter) override {
        const QRectF frame = std::holds_alternative<WindowCaptureFilter>(filter)
                                 ? std::get<WindowCaptureFilter>(filter).window.frame
                                 : std::get<DisplayCaptureFilter>(filter).display.frame;
        return CaptureContentInfo{frame, pixelRatioAt(frame, screenScales())};
    }

    QImage captureImage(const CaptureContentFilter& filter, const CaptureConfiguration& configuration) override {
        Display& display = Display::shared();
        xcb_connection_t* c = display.connection();
        if (!c) {
            throw ScreenCaptureFailure("cannot open the X display");
        }
        // Grabbed in device pixels, every one of them; the image carries the ratio.
        const std::vector<ScreenScale> scales = screenScales();
        const CaptureContentInfo info = contentInfo(filter);
        const QRect content = captureRect(logicalRectToDevice(info.contentRect, scales));
        const QRect screen(0, 0, display.screen()->width_in_pixels, display.screen()->height_in_pixels);
        const QRect visible = content.intersected(screen);
        if (visible.isEmpty()) {
            return {};
        }
        QImage image = grab(display, c, visible);
        if (visible != content) {
            // Parts of the window beyond the screen edge have no pixels: they stay black.
            QImage whole = allocate(content.size());
            whole.fill(Qt::black);
            const QPoint offset = visible.topLeft() - content.topLeft();
            for (int y = 0; y < image.height(); ++y) {
                std::memcpy(whole.scanLine(y + offset.y()) + offset.x() * 4, image.constScanLine(y),
                            static_cast<std::size_t>(image.width()) * 4);
            }
            image = std::move(whole);
        }
        if (image.width() != configuration.width || image.height() != configuration.height) {
            checkCaptureSize(QSize(configuration.width, configuration.height));
            image = image.scaled(configuration.width, configuration.height, Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
            if (image.isNull()) {
                throw ScreenCaptureFailure("not enough memory to scale the capture");
            }
        }
        image.setDevicePixelRatio(info.pointPixelScale);
        return image;
    }

private:
    // The content rectangle in whole root pixels; refused when no capture could hold it.
    static QRect captureRect(const QRectF& content) {
        constexpr double limit = 1 << 20;  // well inside int, whatever a filter carries
        if (!(std::abs(content.x()) < limit && std::abs(content.y()) < limit && content.width() >= 0 &&
              content.width() < limit && content.height() >= 0 && content.height() < limit)) {
            throw ScreenCaptureFailure("the capture area lies outside any screen");
        }
        const QRect rect = content.toAlignedRect();
        checkCaptureSize(rect.size());
        return rect;
    }

    static void checkCaptureSize(QSize size) {
        if (size.width() > maximumCaptureSide || size.height() > maximumCaptureSide ||
            qint64(size.width()) * size.height() > maximumCapturePixels) {
            throw ScreenCaptureFailure("the capture area is too large (" + std::to_string(size.width()) + "x" +
                                       std::to_string(size.height()) + " pixels)");
        }
    }

    static QImage allocate(QSize size) {
        QImage image(size, QImage::Format_RGB32);
        if (image.isNull()) {
            throw ScreenCaptureFailure("not enough memory for a " + std::to_string(size.width()) + "x" +
                                       std::to_string(size.height()) + " capture");
        }
        return image;
    }

    // The root's pixels in `area` (inside the screen), converted once to opaque RGB32.
    static QImage grab(Display& display, xcb_connection_t* c, const QRect& area) {
        const xcb_screen_t* screen = display.screen();
        const xcb_visualtype_t* visual = rootVisual(screen);
        const std::uint8_t bitsPerPixel = bitsPerPixelFor(display.setup(), screen->root_depth);
        if (!visual || bitsPerPixel != 32 || visual->red_mask != 0xFF0000u || visual->green_mask != 0xFF00u ||
            visual->blue_mask != 0xFFu) {
            throw ScreenCaptureFailure("unsupported screen pixel format");
        }
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display.root(), static_cast<std::int16_t>(area.x()),
                          static_cast<std::int16_t>(area.y()), static_cast<std::uint16_t>(area.width()),
                          static_cast<std::uint16_t>(area.height()), ~0u),
            &error));
        if (error) {
            const int code = error->error_code;
            std::free(error);
            throw ScreenCaptureFailure("the X server refused the screen grab (error " + std::to_string(code) + ")");
        }
        if (!reply) {
            throw ScreenCaptureFailure("the X server sent no screen grab");
        }
        const std::size_t rowBytes = static_cast<std::size_t>(area.width()) * 4;
        const auto length = static_cast<std::size_t>(xcb_get_image_data_length(reply.get()));
        if (length < rowBytes * static_cast<std::size_t>(area.height())) {
            throw ScreenCaptureFailure("the X server sent a short screen grab");
        }
        // The reply's pixels become the image's own (no second 4-byte-per-pixel copy): only the
        // unused byte is made opaque, and the bytes swapped when the server's order differs.
        std::uint8_t* data = xcb_get_image_data(reply.get());
        const bool msbFirst = display.setup()->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        const bool sameOrder = msbFirst == (QSysInfo::ByteOrder == QSysInfo::BigEndian);
        auto* pixels = reinterpret_cast<std::uint32_t*>(data);
        const std::size_t count = static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t word = sameOrder ? pixels[i] : qbswap(pixels[i]);
            pixels[i] = 0xFF000000u | word;
        }
        QImage image(
            data, area.width(), area.height(), static_cast<qsizetype>(rowBytes), QImage::Format_RGB32,
            [](void* reply) { std::free(reply); }, reply.get());
        reply.release();
        return image;
    }

    static const xcb_visualtype_t* rootVisual(const xcb_screen_t* screen) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id == screen->root_visual) {
                    return visuals.data;
                }
            }
        }
        return nullptr;
    }

    static std::uint8_t bitsPerPixelFor(const xcb_setup_t* setup, std::uint8_t depth) {
        for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
            if (formats.data->depth == depth) {
                return formats.data->bits_per_pixel;
            }
        }
        return 0;
    }
};

}  // namespace

QRect frameBounds(QPoint clientOrigin, QSize clientSize, const std::vector<std::uint32_t>& extents) {
    constexpr std::uint32_t largestSide = 65535;
    const auto width = static_cast<std::uint32_t>(std::clamp(clientSize.width(), 0, int(largestSide)));
    const auto height = static_cast<std::uint32_t>(std::clamp(clientSize.height(), 0, int(largestSide)));
    std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
    if (extents.size() >= 4) {
        left = std::min(extents[0], width);
        right = std::min(extents[1], width);
        top = std::min(extents[2], height);
        bottom = std::min(extents[3], height);
    }
    const auto frameWidth = std::min(left + width + right, largestSide);
    const auto frameHeight = std::min(top + height + bottom, largestSide);
    return QRect(clientOrigin.x() - int(left), clientOrigin.y() - int(top), int(frameWidth), int(frameHeight));
}

bool WindowProperty::present() const {
    return type != XCB_NONE;
}

std::vector<std::uint32_t> WindowProperty::cardinals() const {
    std::vector<std::uint32_t> values;
    if (format != 32) {
        return values;
    }
    values.resize(static_cast<std::size_t>(bytes.size()) / 4);
    if (!values.empty()) {
        std::memcpy(values.data(), bytes.constData(), values.size() * 4);
    }
    return values;
}

std::optional<std::uint32_t> WindowProperty::cardinal() const {
    const auto values = cardinals();
    return values.empty() ? std::nullopt : std::optional(values.front());
}

std::optional<std::int32_t> validProcessID(std::optional<std::uint32_t> value) {
    if (!value || *value == 0 || *value > static_cast<std::uint32_t>(INT32_MAX)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::optional<std::int32_t> windowProcessID(const WindowProperty& pid) {
    return validProcessID(pid.cardinal());
}

std::optional<QString> windowClassName(const WindowProperty& wmClass) {
    if (!wmClass.present() || wmClass.format != 8) {
        return std::nullopt;
    }
    const QList<QByteArray> parts = wmClass.bytes.split('\0');
    if (parts.size() < 2 || parts.at(1).isEmpty()) {
        return std::nullopt;
    }
    return QString::fromUtf8(parts.at(1));
}

std::optional<QString> windowTitle(const WindowProperty& netName, const WindowProperty& wmName,
                                   std::uint32_t utf8StringAtom) {
    for (const WindowProperty* property : {&netName, &wmName}) {
        if (property->present() && property->format == 8) {
            return decodeWindowText(property->bytes, property->type == utf8StringAtom);
        }
    }
    return std::nullopt;
}

std::optional<double> windowOpacity(const WindowProperty& opacity) {
    if (const auto value = opacity.cardinal()) {
        return static_cast<double>(*value) / 0xFFFFFFFFu;
    }
    return std::nullopt;
}

QString decodeWindowText(const QByteArray& bytes, bool utf8) {
    QByteArray text = bytes;
    const auto nul = text.indexOf('\0');
    if (nul >= 0) {
        text.truncate(nul);
    }
    return utf8 ? QString::fromUtf8(text) : QString::fromLatin1(text);
}

std::shared_ptr<WindowListProviding> sharedWindowList() {
    static const auto list = std::make_shared<X11WindowList>();
    return list;
}

std::shared_ptr<ScreenCapturing> sharedScreenCapture() {
    static const auto capture = std::make_shared<X11ScreenCapture>();
    return capture;
}

}  // namespace tavrolin::x11

namespace tavrolin {

std::shared_ptr<WindowListProviding> systemWindowList() {
    return x11::sharedWindowList();
}

std::shared_ptr<ScreenCapturing> systemScreenCapture() {
    return x11::sharedScreenCapture();
}

}  // namespace tavrolin
