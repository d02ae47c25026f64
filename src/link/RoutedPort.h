#pragma once

#include "NetworkPort.h"
#include "PortMap.h"
#include "QtSerialPort.h"

#include <optional>

namespace trv {

// COM n wherever its line ends: a local device, or a serial device server on the network, as
// the port map says at the moment the port is opened.
class RoutedPort final : public SerialPort {
    Q_OBJECT
public:
    explicit RoutedPort(PortMap map, QObject* parent = nullptr);

    void setPortNumber(int portNo) override {
        portNo_ = portNo;
        explicit_.reset();
    }
    // Opens this target instead of what COM n leads to.
    void setTarget(const PortTarget& target) { explicit_ = target; }
    void setSettings(const QString& settings) override;
    OpenResult open() override;
    void close() override { active_->close(); }
    bool isOpen() const override { return active_->isOpen(); }
    bool write(const std::string& bytes) override { return active_->write(bytes); }
    std::string readAll() override { return active_->readAll(); }

private:
    PortMap map_;
    QtSerialPort device_;
    NetworkPort network_;
    SerialPort* active_ = &device_;
    int portNo_ = 1;
    std::optional<PortTarget> explicit_;
};

} // namespace trv
