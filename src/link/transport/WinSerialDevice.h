#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QWinEventNotifier>
#include <algorithm>
#include <qt_windows.h>

namespace trv {

// A Win32 serial handle as a sequential QIODevice, on overlapped I/O that never blocks.
class WinSerialDevice final : public QIODevice {
    Q_OBJECT
public:
    // What is held unread before reading stops when no limit is set: the driver's own buffer
    // and flow control then hold back the rest.
    static constexpr qint64 kHoldLimit = 256 * 1024;

    explicit WinSerialDevice(QObject* parent = nullptr);
    ~WinSerialDevice() override;

    // Takes the handle over and starts reading from it.
    void attach(HANDLE handle);
    void close() override;
    HANDLE handle() const { return handle_; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;

    // Stops asking for more once `bytes` are held unread; 0 holds up to kHoldLimit.
    void setReadLimit(qint64 bytes);
    // Bytes one read asks for when none wait: a read ends at a gap in the arrivals or when
    // full, so on a line that never falls quiet this sets how often arrivals are handed over.
    void setReadChunk(DWORD bytes) { readChunk_ = std::max<DWORD>(1, bytes); }
    // Takes the reads that have completed, without waiting for one that has not.
    void fetch();
    // Starts writing what waits, if no write is under way.
    void flush();

signals:
    // The handle failed with this system error; what was read before stays readable.
    void failed(DWORD error);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    enum class Taken { Nothing, Bytes, Empty, Failed };

    void startRead();
    // Takes the read under way if it has ended; `error` tells why it failed.
    Taken takeRead(DWORD& error);
    // Takes the read that ended, or with `all` every read that ends at once after it.
    void takeReads(bool all);
    void readCompleted();
    void startWrite();
    void writeCompleted();
    void fail(DWORD error);
    // Waits for an operation ended by CancelIoEx, so its buffer and OVERLAPPED can go.
    void finish(OVERLAPPED& overlapped, bool& pending);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    OVERLAPPED readOp_{};
    OVERLAPPED writeOp_{};
    QWinEventNotifier readDone_;
    QWinEventNotifier writeDone_;
    bool reading_ = false;
    bool writing_ = false;
    bool failed_ = false;
    bool closing_ = false;
    qint64 readLimit_ = 0;
    DWORD readChunk_ = 64;
    QByteArray held_;     // read from the line, not yet read from the device
    QByteArray incoming_; // the buffer of the read under way
    QByteArray outgoing_; // written to the device, not yet handed to the line
    QByteArray sending_;  // the buffer of the write under way
};

} // namespace trv
