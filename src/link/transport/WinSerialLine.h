#pragma once

#include "link/transport/LineDevice.h"
#include "link/transport/WinSerialDevice.h"

namespace trv {

// A local serial port on Windows (COMn), through the Win32 communications calls.
class WinSerialLine final : public LineDevice {
    Q_OBJECT
public:
    // How long the line stays quiet before a read hands over what it has.
    static constexpr DWORD kGapMs = 10;

    explicit WinSerialLine(const QString& name, QObject* parent = nullptr);
    ~WinSerialLine() override;

    QIODevice& io() override { return device_; }
    SerialPort::OpenResult open(const LineSettings& settings) override;
    void apply(const LineSettings& settings) override;
    void setReadLimit(qint64 bytes) override { device_.setReadLimit(bytes); }
    void fetch() override;
    void flush() override { device_.flush(); }
    void close() override;

    // The Win32 path a port name opens: COMn in any case and \\.\COMn open \\.\COMn, as the
    // system knows COM10 and above only by that path; other text is opened as given.
    static QString devicePath(const QString& name);
    static QString describeOpenFailure(DWORD error);

private:
    bool configure(HANDLE handle, const LineSettings& settings) const;
    void failed(DWORD error);

    QString name_;
    WinSerialDevice device_;
    bool lost_ = false;
};

} // namespace trv
