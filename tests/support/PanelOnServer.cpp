#include "support/PanelOnServer.h"

#include "windows/settings/Form2.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace trv::testing {

void PanelOnServer::TearDown() {
    form_.reset();
    if (sim_.state() != QProcess::NotRunning) {
        sim_.terminate();
        sim_.waitForFinished(5000);
    }
}

bool PanelOnServer::startSimulator() {
    sim_.start(QStringLiteral(TRV_SIM_PATH), {QStringLiteral("--trace")});
    if (!sim_.waitForStarted(5000) || !QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000))
        return false;
    device_ = QString::fromLocal8Bit(sim_.readLine().trimmed());
    return !device_.isEmpty();
}

void PanelOnServer::startPanel(const QMap<QString, QString>& settings) {
    store_.values = settings;
    form_ = std::make_unique<Form1>(Platform{serial_, store_, clock_, messages_}, values_);
    form_->start();
}

void PanelOnServer::chooseCom3() {
    Form2* dialog = form_->settingsDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QRadioButton*>(QStringLiteral("Option5"))->click(); // COM3
    dialog->findChild<QRadioButton*>(QStringLiteral("Option1"))->click(); // 9600
    dialog->Command1_Click();
}

QByteArray PanelOnServer::received() {
    if (!sim_.canReadLine() && !QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000))
        return "(nothing)";
    return sim_.readLine().trimmed();
}

void PanelOnServer::click(const char* name) {
    form_->findChild<QPushButton*>(QString::fromLatin1(name))->click();
}

QString PanelOnServer::label(const char* name) const {
    return form_->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

bool PanelOnServer::shows(const char* name, const QString& text) {
    return QTest::qWaitFor([&] { return label(name) == text; }, 5000);
}

} // namespace trv::testing
