// Every program answers --help and --version without a display: on a server, over ssh, in a
// package build (the manual pages are made from them).
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace trv {
namespace {

struct ProgramRow {
    const char* name;
    const char* path;
    bool statesSpeed; // its help says the line runs at 19200 baud unless told otherwise
};

void PrintTo(const ProgramRow& row, std::ostream* os) { *os << row.name; }

struct Answer {
    int exit = -1;
    QByteArray out, err;
};

Answer runWithoutDisplay(const char* path, const QString& option) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromLocal8Bit(path), {option});
    Answer run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

class WithoutDisplay : public ::testing::TestWithParam<ProgramRow> {};

TEST_P(WithoutDisplay, HelpAndVersionAnswerAndEndWell) {
    const ProgramRow& row = GetParam();
    const Answer help = runWithoutDisplay(row.path, QStringLiteral("--help"));
    EXPECT_EQ(help.exit, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith(QByteArray("Usage: ") + row.name + ' '))
        << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--version")) << help.out.toStdString();
    if (row.statesSpeed) {
        EXPECT_TRUE(help.out.contains("19200")) << help.out.toStdString();
    }
    const Answer version = runWithoutDisplay(row.path, QStringLiteral("--version"));
    EXPECT_EQ(version.exit, 0) << version.err.toStdString();
    EXPECT_EQ(version.out.toStdString(), std::string(row.name) + " " TRV_VERSION "\n");
}

INSTANTIATE_TEST_SUITE_P(Programs, WithoutDisplay,
                         ::testing::Values(ProgramRow{"trv-panel", TRV_PANEL_PATH, true},
                                           ProgramRow{"trv-ctl", TRV_CTL_PATH, true},
                                           ProgramRow{"trv-bridge", TRV_BRIDGE_PATH, false},
                                           ProgramRow{"trv-sim", TRV_SIM_PATH, true}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
} // namespace trv
