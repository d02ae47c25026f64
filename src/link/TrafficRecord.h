#pragma once

#include "link/TrafficLine.h"

#include <QFile>
#include <QObject>
#include <QString>

namespace trv {

// The traffic record file: one line a write, appended and handed to the system at once,
// renamed to FILE.1 (replacing the one before) when it would grow past its limit. A file that
// cannot be opened or written is said once; nothing more is written after that.
class TrafficRecord final : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kLimit = 10 * 1024 * 1024;

    explicit TrafficRecord(QString path, qint64 limit = kLimit, QObject* parent = nullptr);

    // Opens the file now rather than at the first line, so that a bad path is said at once.
    bool open();
    void write(const TrafficLine& line);
    // True until the file failed.
    bool active() const { return !failed_; }
    QString path() const { return path_; }

signals:
    // Once: "FILE: why".
    void failed(const QString& problem);

private:
    bool openFile();
    bool rotate();
    void fail(const QString& reason);

    QString path_;
    qint64 limit_;
    qint64 size_ = 0;
    QFile file_;
    bool failed_ = false;
};

} // namespace trv
