#include "XDisplay.h"

#include <QStandardPaths>
#include <QThread>
#include <cstdlib>
#include <cstring>

#ifdef TRV_BENCH_XCB
#include <xcb/xcb.h>
#endif

namespace bench {

XDisplay::~XDisplay() {
#ifdef TRV_BENCH_XCB
    if (connection_)
        xcb_disconnect(connection_);
#endif
    if (xvfb_.state() != QProcess::NotRunning) {
        xvfb_.terminate();
        xvfb_.waitForFinished(5000);
    }
}

qint64 XDisplay::serverPid() const {
    return xvfb_.state() == QProcess::Running ? xvfb_.processId() : 0;
}

#ifndef TRV_BENCH_XCB

bool XDisplay::start(QString& problem) {
    problem = QStringLiteral("built without the xcb headers");
    return false;
}
std::uint32_t XDisplay::windowOf(qint64) { return 0; }
QSize XDisplay::size(std::uint32_t) { return {}; }
bool XDisplay::controlKey(std::uint32_t, std::uint32_t) { return false; }
void XDisplay::click(std::uint32_t, QPoint) {}
std::uint32_t XDisplay::atom(const char*) { return 0; }

#else

bool XDisplay::start(QString& problem) {
    name_ = qEnvironmentVariable("DISPLAY");
    if (name_.isEmpty()) {
        const QString server = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (server.isEmpty()) {
            problem = QStringLiteral("no $DISPLAY and no Xvfb (package xvfb)");
            return false;
        }
        // The server picks a free display and says which on its standard output.
        xvfb_.start(server,
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray number;
        while (!number.contains('\n') && xvfb_.waitForReadyRead(10000))
            number += xvfb_.readAllStandardOutput();
        if (!number.contains('\n')) {
            problem = QStringLiteral("Xvfb did not start");
            return false;
        }
        name_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
    connection_ = xcb_connect(name_.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(connection_)) {
        problem = QStringLiteral("cannot connect to the X display %1").arg(name_);
        return false;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    return true;
}

std::uint32_t XDisplay::atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name),
        nullptr);
    const std::uint32_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

std::uint32_t XDisplay::windowOf(qint64 pid) {
    const std::uint32_t pidAtom = atom("_NET_WM_PID");
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
    if (!tree)
        return 0;
    std::uint32_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && found == 0; ++i) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
        const bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!mapped)
            continue;
        xcb_get_property_reply_t* property = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        if (property && xcb_get_property_value_length(property) == 4 &&
            *static_cast<const std::uint32_t*>(xcb_get_property_value(property)) ==
                std::uint32_t(pid))
            found = children[i];
        std::free(property);
    }
    std::free(tree);
    return found;
}

QSize XDisplay::size(std::uint32_t window) {
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    const QSize value = geometry ? QSize(geometry->width, geometry->height) : QSize();
    std::free(geometry);
    return value;
}

bool XDisplay::controlKey(std::uint32_t window, std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, std::uint8_t(count)),
        nullptr);
    if (!mapping)
        return false;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
    xcb_keycode_t keycode = 0;
    for (int i = 0; i < count * mapping->keysyms_per_keycode && keycode == 0; ++i) {
        if (keysyms[i] == keysym)
            keycode = xcb_keycode_t(setup->min_keycode + i / mapping->keysyms_per_keycode);
    }
    std::free(mapping);
    if (keycode == 0)
        return false;
    for (const std::uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
        xcb_key_press_event_t event{};
        event.response_type = type;
        event.detail = keycode;
        event.root = root_;
        event.event = window;
        event.state = XCB_MOD_MASK_CONTROL;
        event.same_screen = 1;
        // To the client that made the window, whatever it selected.
        xcb_send_event(connection_, 0, window, 0, reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection_);
    return true;
}

void XDisplay::click(std::uint32_t window, QPoint at) {
    for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
        xcb_button_press_event_t event{};
        event.response_type = type;
        event.detail = 1;
        event.root = root_;
        event.event = window;
        event.event_x = std::int16_t(at.x());
        event.event_y = std::int16_t(at.y());
        event.root_x = event.event_x;
        event.root_y = event.event_y;
        event.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
        event.same_screen = 1;
        xcb_send_event(connection_, 0, window, 0, reinterpret_cast<const char*>(&event));
        xcb_flush(connection_);
        QThread::msleep(20);
    }
}

#endif

} // namespace bench
