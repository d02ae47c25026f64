#include "link/transport/TelnetFilter.h"

#include <cstring>

namespace trv {

TelnetFilter::TelnetFilter(QTcpSocket& socket, QObject* parent)
    : QIODevice(parent), socket_(socket) {
    connect(&socket_, &QIODevice::readyRead, this, &QIODevice::readyRead);
}

void TelnetFilter::start() {
    codec_ = TelnetCodec();
    data_.clear();
    QIODevice::open(QIODevice::ReadWrite);
    sendRaw(codec_.start());
}

void TelnetFilter::sendLineSettings(const LineSettings& settings) {
    sendRaw(TelnetCodec::lineSettings(settings));
}

void TelnetFilter::pull() {
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty())
        return;
    const TelnetCodec::ComPort before = codec_.comPort();
    std::string answer;
    data_ += codec_.decode(std::string(bytes.constData(), std::size_t(bytes.size())), answer);
    if (!answer.empty())
        sendRaw(answer);
    if (codec_.comPort() != before)
        emit negotiated();
}

qint64 TelnetFilter::bytesAvailable() const {
    return qint64(data_.size()) + socket_.bytesAvailable() + QIODevice::bytesAvailable();
}

qint64 TelnetFilter::readData(char* data, qint64 maxSize) {
    pull();
    const auto n = std::min<std::size_t>(data_.size(), std::size_t(maxSize));
    std::memcpy(data, data_.data(), n);
    data_.erase(0, n);
    return qint64(n);
}

qint64 TelnetFilter::writeData(const char* data, qint64 size) {
    sendRaw(codec_.encodeData(std::string(data, std::size_t(size))));
    return size;
}

void TelnetFilter::sendRaw(const std::string& bytes) {
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return; // answers to a server that has gone go nowhere
    socket_.write(bytes.data(), qint64(bytes.size()));
    socket_.flush();
}

} // namespace trv
