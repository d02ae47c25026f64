#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

namespace trv::bridge {

// Tells when a device path appears: a USB adapter plugged in (its node, its
// /dev/serial/by-id/ link, even that folder come and go with it), a pseudo-terminal's link
// made again. It watches the nearest folder on the path that exists.
class DeviceWatch : public QObject {
    Q_OBJECT
public:
    explicit DeviceWatch(QString path, QObject* parent = nullptr);

signals:
    // The path exists now and did not a moment ago.
    void appeared();

private:
    void changed();
    void watchNearest();

    QString path_;
    QString watched_;
    QFileSystemWatcher watcher_;
    bool present_ = false;
};

} // namespace trv::bridge
