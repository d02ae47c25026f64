#include "bridge/DeviceWatch.h"

#include <QDir>
#include <QFileInfo>

namespace trv::bridge {

DeviceWatch::DeviceWatch(QString path, QObject* parent)
    : QObject(parent), path_(QFileInfo(path).absoluteFilePath()) {
    present_ = QFileInfo::exists(path_);
    watchNearest();
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::changed);
}

void DeviceWatch::changed() {
    watchNearest();
    const bool present = QFileInfo::exists(path_);
    const bool back = present && !present_;
    present_ = present;
    if (back)
        emit appeared();
}

void DeviceWatch::watchNearest() {
    QString folder = QFileInfo(path_).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    if (folder == watched_)
        return;
    if (!watched_.isEmpty())
        watcher_.removePath(watched_);
    watched_ = watcher_.addPath(folder) ? folder : QString();
}

} // namespace trv::bridge
