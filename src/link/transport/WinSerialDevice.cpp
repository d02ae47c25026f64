#include "link/transport/WinSerialDevice.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <utility>

namespace trv {
namespace {

// How long a read that brought nothing waits before the next is asked for: a driver that
// ends reads without bytes would otherwise be asked as fast as the event loop turns.
constexpr int kEmptyReadPauseMs = 50;

void restart(OVERLAPPED& operation) {
    const HANDLE event = operation.hEvent;
    operation = OVERLAPPED{};
    operation.hEvent = event;
}

} // namespace

WinSerialDevice::WinSerialDevice(QObject* parent) : QIODevice(parent) {
    // Manual-reset events, as overlapped operations want; the notifier would fire again and
    // again on one left set, so each is reset when its operation is taken.
    readOp_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeOp_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    readDone_.setHandle(readOp_.hEvent);
    writeDone_.setHandle(writeOp_.hEvent);
    connect(&readDone_, &QWinEventNotifier::activated, this, &WinSerialDevice::readCompleted);
    connect(&writeDone_, &QWinEventNotifier::activated, this, &WinSerialDevice::writeCompleted);
}

WinSerialDevice::~WinSerialDevice() {
    close();
    CloseHandle(readOp_.hEvent);
    CloseHandle(writeOp_.hEvent);
}

void WinSerialDevice::attach(HANDLE handle) {
    close();
    handle_ = handle;
    failed_ = false;
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    readDone_.setEnabled(true);
    writeDone_.setEnabled(true);
    startRead();
}

void WinSerialDevice::close() {
    if (handle_ == INVALID_HANDLE_VALUE) {
        if (isOpen())
            QIODevice::close();
        return;
    }
    closing_ = true;
    readDone_.setEnabled(false);
    writeDone_.setEnabled(false);
    CancelIoEx(handle_, nullptr);
    finish(readOp_, reading_);
    finish(writeOp_, writing_);
    CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    QIODevice::close();
    held_.clear();
    incoming_.clear();
    outgoing_.clear();
    sending_.clear();
    closing_ = false;
}

void WinSerialDevice::finish(OVERLAPPED& overlapped, bool& pending) {
    if (!pending)
        return;
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &overlapped, &ignored, TRUE);
    ResetEvent(overlapped.hEvent);
    pending = false;
}

qint64 WinSerialDevice::bytesAvailable() const {
    return held_.size() + QIODevice::bytesAvailable();
}

qint64 WinSerialDevice::bytesToWrite() const {
    return sending_.size() + outgoing_.size() + QIODevice::bytesToWrite();
}

void WinSerialDevice::setReadLimit(qint64 bytes) {
    readLimit_ = std::max<qint64>(0, bytes);
    startRead();
}

qint64 WinSerialDevice::readData(char* data, qint64 maxSize) {
    const qint64 count = std::min<qint64>(maxSize, held_.size());
    if (count <= 0)
        return 0;
    std::memcpy(data, held_.constData(), std::size_t(count));
    held_.remove(0, qsizetype(count));
    startRead(); // room was made
    return count;
}

void WinSerialDevice::startRead() {
    if (reading_ || failed_ || closing_ || handle_ == INVALID_HANDLE_VALUE)
        return;
    const qint64 room = (readLimit_ > 0 ? readLimit_ : kHoldLimit) - bytesAvailable();
    if (room <= 0)
        return;
    // What already waits in the driver comes in one read; otherwise a chunk.
    DWORD size = readChunk_;
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(handle_, &errors, &status))
        size = std::max(size, status.cbInQue);
    size = DWORD(std::min<qint64>(size, room));
    incoming_.resize(qsizetype(size));
    restart(readOp_);
    // The event tells of the end even of a read that ended at once.
    if (ReadFile(handle_, incoming_.data(), size, nullptr, &readOp_) ||
        GetLastError() == ERROR_IO_PENDING) {
        reading_ = true;
        return;
    }
    // Told from the event loop: this may run inside a read of the device.
    const DWORD error = GetLastError();
    QMetaObject::invokeMethod(
        this, [this, error] { fail(error); }, Qt::QueuedConnection);
}

WinSerialDevice::Taken WinSerialDevice::takeRead(DWORD& error) {
    if (!reading_)
        return Taken::Nothing;
    DWORD count = 0;
    if (!GetOverlappedResult(handle_, &readOp_, &count, FALSE)) {
        error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return Taken::Nothing;
        reading_ = false;
        ResetEvent(readOp_.hEvent);
        return Taken::Failed;
    }
    reading_ = false;
    ResetEvent(readOp_.hEvent);
    if (count == 0) {
        QTimer::singleShot(kEmptyReadPauseMs, this, &WinSerialDevice::startRead);
        return Taken::Empty;
    }
    held_.append(incoming_.constData(), qsizetype(count));
    return Taken::Bytes;
}

void WinSerialDevice::fetch() { takeReads(true); }

void WinSerialDevice::readCompleted() { takeReads(false); }

void WinSerialDevice::takeReads(bool all) {
    const qint64 before = held_.size();
    DWORD error = 0;
    Taken taken = Taken::Nothing;
    // A read asked for again ends at once when its bytes already wait; the room left bounds
    // the rounds.
    do {
        taken = takeRead(error);
        if (taken == Taken::Bytes)
            startRead();
    } while (all && taken == Taken::Bytes);
    if (held_.size() > before)
        emit readyRead();
    if (taken == Taken::Failed)
        fail(error);
}

qint64 WinSerialDevice::writeData(const char* data, qint64 size) {
    if (failed_ || handle_ == INVALID_HANDLE_VALUE)
        return -1;
    outgoing_.append(data, qsizetype(size));
    startWrite();
    return size;
}

void WinSerialDevice::flush() { startWrite(); }

void WinSerialDevice::startWrite() {
    if (writing_ || outgoing_.isEmpty() || failed_ || closing_ || handle_ == INVALID_HANDLE_VALUE)
        return;
    sending_ = std::exchange(outgoing_, QByteArray());
    restart(writeOp_);
    if (WriteFile(handle_, sending_.constData(), DWORD(sending_.size()), nullptr, &writeOp_) ||
        GetLastError() == ERROR_IO_PENDING) {
        writing_ = true;
        return;
    }
    const DWORD error = GetLastError();
    QMetaObject::invokeMethod(
        this, [this, error] { fail(error); }, Qt::QueuedConnection);
}

void WinSerialDevice::writeCompleted() {
    if (!writing_)
        return;
    DWORD sent = 0;
    if (!GetOverlappedResult(handle_, &writeOp_, &sent, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return;
        writing_ = false;
        ResetEvent(writeOp_.hEvent);
        fail(error);
        return;
    }
    writing_ = false;
    ResetEvent(writeOp_.hEvent);
    // A write cut short leaves its rest first in line.
    if (qsizetype(sent) < sending_.size())
        outgoing_.prepend(sending_.mid(qsizetype(sent)));
    sending_.clear();
    startWrite();
    if (sent > 0)
        emit bytesWritten(qint64(sent));
}

void WinSerialDevice::fail(DWORD error) {
    if (failed_ || closing_ || handle_ == INVALID_HANDLE_VALUE)
        return;
    failed_ = true;
    setErrorString(qt_error_string(int(error)));
    emit failed(error);
}

} // namespace trv
