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
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr char kUsage[] =
    "Usage: trv-panel [options]\n"
    "Remote-control panel for a TRV-M5400 projector on an RS-232C line.\n"
    "\n"
    "The port, line speed and unit address are those the COM PORT dialog stored (the\n"
    "dialog opens on the first start); the line runs at 19200 baud unless 9600 is stored.\n"
    "\n"
    "Options:\n"
    "  --profile NAME        keep the settings of the profile NAME, apart from the default\n"
    "                        ones: one panel per profile, its name in the caption\n"
    "  --log FILE            append a record of the line's traffic to FILE (instead of the\n"
    "                        stored [Log] File=)\n"
    "  -h, --help            this text\n"
    "  --version             the program's version\n"
    "\n"
    "Qt's own options (-platform, -display, -style and the like) are taken as well.\n";

void addOptions(QCommandLineParser& parser) {
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    parser.addOption(QCommandLineOption(QStringLiteral("log"), {}, QStringLiteral("FILE")));
    parser.addOption(QCommandLineOption(QStringLiteral("profile"), {}, QStringLiteral("NAME")));
}

// Text for the user: on standard output, or in a box where a program with windows has no
// console (Windows), which needs no display connection either.
void tell(const char* text) {
#ifdef Q_OS_WIN
    if (GetConsoleWindow() == nullptr) {
        MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(QString::fromUtf8(text).utf16()),
                    L"trv-panel", MB_OK | MB_ICONINFORMATION);
        return;
    }
#endif
    std::fputs(text, stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    // Help and version before the application exists: they need no display. Other faults
    // wait for the parse below, which also knows Qt's own options.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QCommandLineParser early;
        addOptions(early);
        early.parse(arguments);
        if (early.isSet(QStringLiteral("help"))) {
            tell(kUsage);
            return 0;
        }
        if (early.isSet(QStringLiteral("version"))) {
            tell("trv-panel " TRV_VERSION "\n");
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    trv::QtMessageBox messages;
    const auto usageError = [&messages](const QString& text) {
        std::fprintf(stderr, "trv-panel: %s\nTry 'trv-panel --help'.\n", qPrintable(text));
#ifdef Q_OS_WIN
        // A program with windows has no console to print on.
        messages.warning(nullptr, text, QStringLiteral("trv-panel"), {});
#else
        Q_UNUSED(messages);
#endif
        return 2;
    };
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QApplication::arguments()))
        return usageError(parser.errorText());

    const QString log = QStringLiteral("log");
    const QString profileOption = QStringLiteral("profile");
    const QString profile = parser.value(profileOption);
    if (parser.isSet(profileOption)) {
        if (const QString problem = trv::ProfileName::problem(profile); !problem.isEmpty())
            return usageError(QStringLiteral("bad value for --profile: \"%1\" (%2)")
                                  .arg(trv::ProfileName::printable(profile), problem));
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument: %1")
                              .arg(parser.positionalArguments().constFirst()));
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
