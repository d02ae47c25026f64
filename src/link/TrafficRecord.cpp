#include "link/TrafficRecord.h"

#include <QDir>
#include <QFileInfo>
#include <utility>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trv {

TrafficRecord::TrafficRecord(QString path, qint64 limit, QObject* parent)
    : QObject(parent), path_(std::move(path)), limit_(limit) {}

bool TrafficRecord::open() { return !failed_ && (file_.isOpen() || openFile()); }

bool TrafficRecord::openFile() {
    const QString notRegular = tr("it is not a regular file");
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path_);
    struct stat info {};
    // Looked at by name first so that a device node is not even opened: opening one can act
    // on the device.
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        fail(notRegular);
        return false;
    }
    // Non-blocking: a FIFO put in the file's place since would otherwise hold the program
    // until something reads it.
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(qt_error_string(errno));
        return false;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail(notRegular);
        return false;
    }
    size_ = info.st_size;
    if (!file_.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fail(file_.errorString());
        return false;
    }
#else
    const QFileInfo info(path_);
    if (info.exists() && !info.isFile()) {
        fail(notRegular);
        return false;
    }
    file_.setFileName(path_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(file_.errorString());
        return false;
    }
    size_ = file_.size();
#endif
    return true;
}

void TrafficRecord::write(const TrafficLine& line) {
    if (!open())
        return;
    const std::string text = line.format();
    const auto length = qint64(text.size());
    if (size_ > 0 && size_ + length > limit_ && !rotate())
        return;
    // One write a line, unbuffered: the line is the system's as soon as this returns, so a
    // crash of the program loses nothing, and no other writer's line lands inside it.
    if (file_.write(text.data(), length) != length) {
        fail(file_.errorString());
        return;
    }
    size_ += length;
}

bool TrafficRecord::rotate() {
    file_.close();
    const QString older = path_ + QStringLiteral(".1");
    QFile::remove(older);
    if (!QFile::rename(path_, older)) {
        fail(tr("it cannot be renamed to %1").arg(older));
        return false;
    }
    return openFile();
}

void TrafficRecord::fail(const QString& reason) {
    file_.close();
    if (std::exchange(failed_, true))
        return;
    emit failed(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path_), reason));
}

} // namespace trv
