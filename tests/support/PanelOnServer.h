#pragma once

#include "link/clock/QtClock.h"
#include "link/settings/PortValues.h"
#include "link/transport/DevicePort.h"
#include "support/Fakes.h"
#include "support/Ser2net.h"
#include "windows/panel/Form1.h"

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace trv::testing {

// The panel on a device server: trv-sim tracing what it receives, ser2net in front of it and a
// panel whose port map leads there, for the end-to-end tests of device servers.
class PanelOnServer : public ::testing::Test {
protected:
    // The panel goes before the simulator, so that it closes its line while the server is up.
    void TearDown() override;

    // Starts trv-sim; false when it does not start or name its device. Its device in device_.
    bool startSimulator();
    // The panel on `settings` (with "Ports/COM3" leading to the server), started: it opens the
    // stored port at once, or shows the dialog when none is stored.
    void startPanel(const QMap<QString, QString>& settings);
    // In the dialog of a panel started with no port stored: COM3 at 9600, then OK.
    void chooseCom3();
    // The next command the simulator received, "(nothing)" when none came within 5 s.
    QByteArray received();
    void click(const char* name);
    QString label(const char* name) const;
    // Whether the label comes to show `text` within 5 s.
    bool shows(const char* name, const QString& text);

    QTemporaryDir dir_;
    QProcess sim_;
    QString device_;
    Ser2net server_;
    FakeSettingsStore store_;
    DevicePort serial_{PortMap(&store_)};
    QtClock clock_;
    FakeMessageBox messages_;
    PortValues values_;
    std::unique_ptr<Form1> form_;
};

} // namespace trv::testing
