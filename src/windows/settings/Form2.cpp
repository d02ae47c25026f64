#include "windows/settings/Form2.h"

#include "link/settings/NumberRule.h"
#include "link/transport/PortMap.h"
#include "windows/common/DesignFont.h"
#include "windows/common/Twips.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace trv {
namespace {

const QString kCaption = QStringLiteral("  COM PORT");
constexpr int kWidthTwips = 3105;
constexpr int kHeightTwips = 4005;

} // namespace

Form2::Form2(PortValues& values, SerialPort& serial, SettingsStore& store, MessageBox& messages,
             QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      values_(values), serial_(serial), store_(store), messages_(messages) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kCaption);
    setFixedSize(twipsToPixels(kWidthTwips), twipsToPixels(kHeightTwips));
    // The frame's caption sits on its top border, leaving the space below it to the options.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));

    auto* frame1 = new QGroupBox(QStringLiteral("Baud Rate"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(twipsRect(360, 240, 2415, 615));
    auto* frame2 = new QGroupBox(QStringLiteral("Com Port"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(360, 1200, 1455, 2535));

    struct OptionRow {
        const char* name;
        const char* caption;
        int left, top, width, height;
    };
    const auto makeOption = [](const OptionRow& row, QWidget* frame, QButtonGroup* group) {
        auto* option = new QRadioButton(QString::fromLatin1(row.caption), frame);
        option->setObjectName(QString::fromLatin1(row.name));
        option->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
        group->addButton(option);
        return option;
    };
    const OptionRow baudRows[] = {{"Option1", "9600", 120, 180, 1575, 375},
                                  {"Option2", "19200", 1320, 240, 975, 255}};
    const OptionRow portRows[] = {{"Option3", "COM1", 180, 180, 1155, 315},
                                  {"Option4", "COM2", 180, 540, 1095, 255},
                                  {"Option5", "COM3", 180, 900, 975, 255},
                                  {"Option6", "COM4", 180, 1260, 1215, 255},
                                  {"Option7", "COM5", 180, 1620, 1335, 255}};
    auto* baudGroup = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        baudOptions_[i] = makeOption(baudRows[i], frame1, baudGroup);
        const std::uint8_t code = i == 0 ? 96 : 192;
        connect(baudOptions_[i], &QRadioButton::toggled, this, [this, code](bool checked) {
            if (checked)
                values_.BaudCode = code;
        });
    }
    auto* portGroup = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        QRadioButton* option = makeOption(portRows[i], frame2, portGroup);
        option->setToolTip(tr("Opens %1").arg(PortMap(&store_).targetFor(i + 1).text));
        portOptions_[i] = option;
        const auto portNo = static_cast<std::int16_t>(i + 1);
        const auto choose = [this, portNo](bool checked) {
            if (checked)
                values_.PortNo = portNo;
        };
        connect(option, &QRadioButton::toggled, this, choose);
        // Clicking the option already shown chooses it again: after a Cancel at start-up the
        // shown option and the port in use can differ.
        connect(option, &QRadioButton::clicked, this, choose);
    }

    text1_ = new QLineEdit(QStringLiteral("0"), frame2);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(twipsRect(180, 2040, 375, 270));
    text1_->setToolTip(tr("Any port from 1 to 15"));
    connect(text1_, &QLineEdit::textChanged, this, &Form2::Text1_Change);
    auto* label1 = new QLabel(QStringLiteral("OTHER"), frame2);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setGeometry(twipsRect(600, 2100, 615, 255));
    label1->setBuddy(text1_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setGeometry(twipsRect(2040, 1320, 735, 615));
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &Form2::Command1_Click);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    cancel->setGeometry(twipsRect(2040, 2160, 735, 615));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &Form2::Command2_Click);

    QWidget::setTabOrder(text1_, baudOptions_[0]);
    QWidget::setTabOrder(baudOptions_[0], baudOptions_[1]);
    QWidget* previous = baudOptions_[1];
    for (QRadioButton* option : portOptions_) {
        QWidget::setTabOrder(previous, option);
        previous = option;
    }
    QWidget::setTabOrder(previous, ok);
    QWidget::setTabOrder(ok, cancel);
    // Set on each control: the style sheet above keeps the window's font from reaching them.
    setFont(designFont(8.25, false));
    for (QWidget* child : findChildren<QWidget*>())
        child->setFont(font());

    Form_Load();
}

void Form2::Form_Load() {
    if (values_.PortNo >= 1 && values_.PortNo <= 5)
        portOptions_[values_.PortNo - 1]->setChecked(true);
    selectBaudOption();
    text1_->setFocus();
    text1_->setSelection(0, 1);
}

void Form2::selectBaudOption() {
    if (values_.BaudCode == 96) {
        serial_.setSettings(lineSettingsFor(96));
        baudOptions_[0]->setChecked(true);
    } else {
        serial_.setSettings(lineSettingsFor(192));
        baudOptions_[1]->setChecked(true);
        values_.BaudCode = 192;
    }
}

void Form2::Text1_Change(const QString& text) {
    const std::optional<double> number = NumberRule::readWhole(text.toStdString());
    if (number && NumberRule::inRange(*number, 1, 15)) {
        values_.PortNo = static_cast<std::int16_t>(*number);
        return;
    }
    if (text != QLatin1String("0")) {
        text1_->setText(QStringLiteral("0"));
        text1_->setCursorPosition(0);
    }
}

void Form2::Command1_Click() {
    serial_.setSettings(lineSettingsFor(values_.BaudCode));
    if (values_.PortNo < 1 || values_.PortNo > 15) {
        warnRetry(tr("Choose a port from COM1 to COM15 first."));
        return;
    }
    serial_.setPortNumber(values_.PortNo);
    const SerialPort::OpenResult result = serial_.open();
    if (!result.ok) {
        warnRetry(result.reason);
        return;
    }
    const bool stored = store_.write(StoreKey::ComPort, QString::number(values_.PortNo)) &&
                        store_.write(StoreKey::BaudRate, QString::number(values_.BaudCode));
    if (!stored) {
        // The port is open and usable; only remembering it for the next start failed.
        messages_.warning(this, tr("The port is open, but the settings could not be saved."),
                          tr("Error"), store_.writeProblem());
    }
    close();
    showMainWindow();
}

void Form2::Command2_Click() {
    values_.PortNo = values_.SavedPortNo;
    if (values_.PortNo >= 1 && values_.PortNo <= 15) {
        values_.BaudCode = values_.SavedBaudCode;
        selectBaudOption();
        serial_.setPortNumber(values_.PortNo);
        const SerialPort::OpenResult result = serial_.open();
        if (!result.ok) {
            warnRetry(result.reason);
            return;
        }
        close();
        showMainWindow();
        return;
    }
    if (serial_.isOpen()) {
        serial_.close();
        close();
    }
    warnRetry(tr("No port was in use before; choose one and press OK."));
}

void Form2::warnRetry(const QString& detail) {
    messages_.warning(this, QStringLiteral("Retry Comport"), QStringLiteral("Error"), detail);
}

void Form2::showMainWindow() {
    QWidget* main = parentWidget();
    if (main == nullptr)
        return;
    main->show();
    main->raise();
    main->activateWindow();
}

int Form2::captionWidth(const QString& caption) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(std::max(font.pointSizeF(), 11.0));
    const int button = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return QFontMetrics(font).horizontalAdvance(caption) + 4 * button;
}

void Form2::fitCaption() {
    int width = twipsToPixels(kWidthTwips);
    if (windowTitle() != kCaption) {
        width = std::max(width, captionWidth(windowTitle()));
        if (const QScreen* screen = this->screen())
            width = std::min(width, screen->availableGeometry().width());
    }
    setFixedSize(width, twipsToPixels(kHeightTwips));
}

void Form2::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        fitCaption();
}

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    emit finished();
}

} // namespace trv
