#pragma once

#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <cstdint>

struct xcb_connection_t;

namespace bench {

// An X server for the benchmarks, $DISPLAY or an Xvfb of its own, and the user's input to a
// program's window on it (keys and clicks sent to the window, as a window manager's would be).
class XDisplay {
public:
    XDisplay() = default;
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Connects to $DISPLAY, or starts Xvfb when there is none; false with `problem` said.
    bool start(QString& problem);
    // The display's name, for $DISPLAY.
    QString name() const { return name_; }
    // The X server's process when it is this object's Xvfb, else 0.
    qint64 serverPid() const;

    // The mapped top-level window of process `pid`, 0 while there is none.
    std::uint32_t windowOf(qint64 pid);
    QSize size(std::uint32_t window);
    // Presses and releases the key of `keysym` with Control held.
    bool controlKey(std::uint32_t window, std::uint32_t keysym);
    // Presses and releases the left button at `at`, in the window's coordinates.
    void click(std::uint32_t window, QPoint at);

private:
    std::uint32_t atom(const char* name);

    QProcess xvfb_;
    QString name_;
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
};

} // namespace bench
