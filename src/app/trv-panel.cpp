#include "link/TrafficRecord.h"
#include "link/clock/QtClock.h"
#include "link/settings/PortValues.h"
#include "link/settings/ProfileName.h"
#include "link/settings/QtSettingsStore.h"
#include "link/transport/DevicePort.h"
#include "windows/common/QtMessageBox.h"
#include "windows/panel/Form1.h"
#include "windows/panel/PanelInstance.h"
#include "windows/settings/Form2.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Remote-control panel for a TRV-M5400 projector on an RS-232C line."));
    parser.addHelpOption();
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append a record of the line's traffic to FILE (instead of [Log] File=)."),
        QStringLiteral("FILE"));
    parser.addOption(log);
    const QCommandLineOption profileOption(
        QStringLiteral("profile"),
        QStringLiteral("Keep the settings of the profile NAME, apart from the default ones: one "
                       "panel per profile, its name in the caption."),
        QStringLiteral("NAME"));
    parser.addOption(profileOption);
    parser.process(app);
    trv::QtMessageBox messages;

    const QString profile = parser.value(profileOption);
    if (parser.isSet(profileOption)) {
        if (const QString problem = trv::ProfileName::problem(profile); !problem.isEmpty()) {
            const QString text = QStringLiteral("bad value for --profile: \"%1\" (%2)")
                                     .arg(trv::ProfileName::printable(profile), problem);
            std::fprintf(stderr, "trv-panel: %s\n", qPrintable(text));
#ifdef Q_OS_WIN
            // A program with windows has no console to print on.
            messages.warning(nullptr, text, QStringLiteral("trv-panel"), {});
#endif
            return 2;
        }
    }
    // Before the settings are read: a second panel on them must not touch them.
    trv::PanelInstance instance(trv::QtSettingsStore::panelLockFile(profile));
    if (!instance.enter(messages, profile))
        return 0;

    trv::QtSettingsStore store(profile);
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::PortValues values;
    // Outlives the window, which records into it until it is gone.
    std::unique_ptr<trv::TrafficRecord> record;
    trv::Form1 form1({serial, store, clock, messages}, values);
    form1.setProfileName(profile);
    QObject::connect(&instance, &trv::PanelInstance::forwardRequested, &form1, [&form1] {
        // On the first start the dialog is up and the panel waits for it to close.
        QWidget* window =
            form1.isVisible() ? static_cast<QWidget*>(&form1) : form1.settingsDialog();
        if (!window)
            return;
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
    });
    if (const QString path = parser.isSet(log) ? parser.value(log) : store.logFile();
        !path.isEmpty()) {
        record = std::make_unique<trv::TrafficRecord>(path);
        form1.useRecord(*record);
    }
    form1.start();
    return QApplication::exec();
}
