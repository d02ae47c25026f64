#include "windows/panel/Form1.h"

#include "link/TrafficRecord.h"
#include "link/panel/PanelLayout.h"
#include "link/settings/StartupSettings.h"
#include "windows/common/DesignFont.h"
#include "windows/common/Twips.h"
#include "windows/console/Form3.h"
#include "windows/panel/HoldButton.h"
#include "windows/settings/Form2.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>
#include <cmath>
#include <map>

namespace trv {

// The layout's outer heights count the title bar and borders the windows allow for.
static_assert(PanelLayout::kDecorationHeight == kDecorationTwips);

namespace {

QString text(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
QColor colour(Rgb rgb) { return {rgb.r, rgb.g, rgb.b}; }

// A black filled triangle on yellow: 17 x 9 pixels pointing up or down, 9 x 17 sideways.
QIcon arrowIcon(Arrow arrow, qreal ratio) {
    const bool upright = arrow == Arrow::Up || arrow == Arrow::Down;
    const QSize size = upright ? QSize(17, 9) : QSize(9, 17);
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(QColor(255, 255, 0));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    QPolygonF triangle;
    switch (arrow) {
    case Arrow::Up:
        triangle << QPointF(0, 9) << QPointF(17, 9) << QPointF(8.5, 0);
        break;
    case Arrow::Down:
        triangle << QPointF(0, 0) << QPointF(17, 0) << QPointF(8.5, 9);
        break;
    case Arrow::Left:
        triangle << QPointF(9, 0) << QPointF(9, 17) << QPointF(0, 8.5);
        break;
    case Arrow::Right:
        triangle << QPointF(0, 0) << QPointF(0, 17) << QPointF(9, 8.5);
        break;
    case Arrow::None:
        break;
    }
    painter.drawPolygon(triangle);
    painter.end();
    return QIcon(pixmap);
}

QString titleOf(std::string_view frame) {
    for (const FrameRow& row : PanelLayout::frames()) {
        if (row.frame == frame)
            return text(row.caption);
    }
    return {};
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, double pointSize,
                  QColor textColour) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(designFont(pointSize, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, textColour);
    label->setPalette(palette);
    return label;
}

QLabel* makeDisplay(QWidget* parent, const QString& name, QRect geometry, double pointSize,
                    QColor textColour) {
    QLabel* label = makeLabel(parent, name, QString(), pointSize, textColour);
    label->setGeometry(geometry);
    // A plain frame takes the text's colour; the border is black whatever the text's colour.
    label->setStyleSheet(QStringLiteral("QLabel { border: 1px solid black; background: white; }"));
    return label;
}

} // namespace

Form1::Form1(const Platform& platform, PortValues& values, QWidget* parent)
    : QWidget(parent), platform_(platform), values_(values), link_(platform.serial, platform.clock),
      timer1_(platform.clock.createTimer(200, true)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ZEKO   TRV-M5400  CONTROL  Ver.2.0"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(designFont(7.5, false));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(palette);
    buildPanel();
    setFixedSize(twipsToPixels(PanelLayout::kClientWidth),
                 twipsToPixels(PanelLayout::kFullHeight - PanelLayout::kDecorationHeight));

    connect(timer1_.get(), &Timer::timeout, this, &Form1::Timer1_Timer);
    connect(&link_, &ProjectorLink::displayChanged, this, &Form1::updateDisplays);
    // Nothing more can go out on a line that went away.
    connect(&platform_.serial, &SerialPort::linkLost, this, &Form1::endLostHold);

    // Key preview: the window sees every key before the focused control does.
    winId();
    windowHandle()->installEventFilter(this);
}

Form1::~Form1() {
    // Child buttons are hidden while QWidget tears down; by then the hold state is gone.
    for (HoldButton* button : findChildren<HoldButton*>())
        disconnect(button, nullptr, this, nullptr);
}

void Form1::setProfileName(const QString& name) {
    captionTail_ = name.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + name;
    setWindowTitle(QStringLiteral("ZEKO   TRV-M5400  CONTROL  Ver.2.0") + captionTail_);
}

Form2* Form1::settingsDialog() const { return form2_; }
Form3* Form1::console() const { return form3_; }

void Form1::buildPanel() {
    std::map<std::string_view, QWidget*> containers{{"", this}};
    for (const FrameRow& row : PanelLayout::frames()) {
        auto* frame = new QFrame(this);
        frame->setObjectName(text(row.frame));
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
        containers[row.frame] = frame;
        if (!row.title.empty()) {
            const bool power = row.frame == "Frame1";
            QLabel* title = makeLabel(frame, text(row.title), text(row.caption), 9.75,
                                      power ? QColor(192, 0, 0) : QColor(Qt::black));
            title->setAlignment(row.titleAtLeft ? Qt::AlignLeft | Qt::AlignVCenter
                                                : Qt::AlignCenter);
            title->setGeometry(twipsRect(row.titleLeft, row.titleTop, row.titleWidth, 255));
        }
    }
    frame15_ = static_cast<QFrame*>(containers["Frame15"]);

    QWidget* frame9 = containers["Frame9"];
    makeLabel(frame9, QStringLiteral("Label9"), QStringLiteral("TxD"), 9.75, Qt::black)
        ->setGeometry(twipsRect(120, 210, 450, 255));
    makeLabel(frame9, QStringLiteral("Label10"), QStringLiteral("RxD"), 9.75, Qt::black)
        ->setGeometry(twipsRect(120, 570, 450, 255));
    label11_ = makeDisplay(frame9, QStringLiteral("Label11"), twipsRect(600, 195, 7575, 300), 12,
                           Qt::black);
    label12_ = makeDisplay(frame9, QStringLiteral("Label12"), twipsRect(585, 555, 7575, 300), 12,
                           Qt::black);
    label25_ = makeDisplay(frame15_, QStringLiteral("Label25"), twipsRect(1020, 135, 4950, 285),
                           10.5, QColor(255, 0, 0));
    txShown_.emplace(*label11_);
    rxShown_.emplace(*label12_);
    statusShown_.emplace(*label25_);

    const QColor red(255, 0, 0);
    label28_ = makeLabel(this, QStringLiteral("Label28"),
                         QStringLiteral("[CR] :Carriage Return Code (0x0D)"), 9.75, red);
    label27_ = makeLabel(this, QStringLiteral("Label27"), QStringLiteral("_ :Space Code (0x20)"),
                         9.75, red);
    label19_ = makeLabel(this, QStringLiteral("Label19"),
                         QStringLiteral("[ACK]:ACKnowledge Code (0x06)"), 9.75, red);
    // The designed 195 twips would cut the descenders: each legend is as high as its font
    // needs, its text kept at the designed top.
    const int legendHeight = std::max(twipsToPixels(195), QFontMetrics(label28_->font()).height());
    const std::pair<QLabel*, QRect> legends[] = {{label28_, twipsRect(120, 5705, 3900, 195)},
                                                 {label27_, twipsRect(4200, 5705, 2500, 195)},
                                                 {label19_, twipsRect(120, 5880, 3900, 195)}};
    for (const auto& [legend, place] : legends) {
        legend->setGeometry(place.x(), place.y(), place.width(), legendHeight);
        legend->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        legend->hide();
    }

    const qreal ratio = std::max<qreal>(2.0, devicePixelRatioF());
    for (const ButtonRow& row : PanelLayout::buttons()) {
        QWidget* container = containers.at(row.frame);
        QPushButton* button = row.holdIndex != 0 ? new HoldButton(container)
                                                 : new QPushButton(text(row.caption), container);
        button->setObjectName(text(row.name));
        button->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
        button->setFont(designFont(row.pointSize, true));
        if (row.face != Face::Standard) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::Button, colour(PanelLayout::faceColour(row.face)));
            palette.setColor(QPalette::ButtonText, Qt::black);
            button->setPalette(palette);
        }
        if (row.holdIndex != 0) {
            // The arrow has no caption: say what it moves for tooltips and screen readers.
            const QString what = QStringLiteral("%1 %2").arg(
                titleOf(row.frame), text(PanelLayout::arrowName(row.arrow)));
            button->setToolTip(what);
            button->setAccessibleName(what);
            button->setIcon(arrowIcon(row.arrow, ratio));
            button->setIconSize(row.arrow == Arrow::Up || row.arrow == Arrow::Down ? QSize(17, 9)
                                                                                   : QSize(9, 17));
            auto* hold = static_cast<HoldButton*>(button);
            const int index = row.holdIndex;
            connect(hold, &HoldButton::mouseDown, this, [this, index] { holdPressed(index); });
            connect(hold, &HoldButton::mouseUp, this, &Form1::Cont_M_up);
        } else if (!row.command.empty()) {
            const std::string_view command = row.command;
            connect(button, &QPushButton::clicked, this, [this, command] { sendClick(command); });
        }
    }
    connect(findChild<QPushButton*>(QStringLiteral("Command16")), &QPushButton::clicked, this,
            &Form1::Command16_Click);
    connect(findChild<QPushButton*>(QStringLiteral("Command33")), &QPushButton::clicked, this,
            &Form1::Command33_Click);
    connect(findChild<QPushButton*>(QStringLiteral("Command74")), &QPushButton::clicked, this,
            &Form1::Command74_Click);

    auto* group = new QButtonGroup(this);
    QWidget* frame8 = containers["Frame8"];
    for (const AddressRow& row : PanelLayout::addresses()) {
        auto* option = new QRadioButton(text(row.caption), frame8);
        option->setObjectName(text(row.name));
        option->setFont(designFont(9, true));
        option->setGeometry(twipsRect(row.left, row.top, row.width, 255));
        group->addButton(option);
        const std::string address(row.address);
        connect(option, &QRadioButton::toggled, this, [this, address](bool checked) {
            if (checked)
                link_.UnitAddress = address;
        });
    }
    option1_ = findChild<QRadioButton*>(QStringLiteral("Option1"));
    option1_->setChecked(true);
}

void Form1::useRecord(TrafficRecord& record) {
    link_.setRecord(&record);
    // Queued: the failure may come in the middle of a send or an arrival, which a modal box
    // must not interrupt.
    connect(&record, &TrafficRecord::failed, this, &Form1::recordFailed, Qt::QueuedConnection);
    record.open();
}

void Form1::recordFailed(const QString& problem) {
    // On the first start the panel is not on screen yet (nor placed): the box goes over the
    // COM PORT dialog, which is.
    QWidget* over = this;
    if (!isVisible() && form2_ && form2_->isVisible())
        over = form2_;
    platform_.messages.warning(
        over, tr("The traffic record cannot be written; the panel goes on without it."),
        tr("Error"), problem);
}

void Form1::start() {
    if (Form_Load())
        show();
}

bool Form1::Form_Load() {
    setOuterHeightTwips(PanelLayout::kCompactHeight);
    values_.PortNo = StartupSettings::portNo(platform_.store);
    if (values_.PortNo == 0) {
        showSettingsDialog(true);
        return false;
    }
    values_.BaudCode = StartupSettings::baudCode(platform_.store);
    selectAddress(StartupSettings::unitAddress(platform_.store));
    link_.serial().setSettings(lineSettingsFor(values_.BaudCode));
    link_.serial().setPortNumber(values_.PortNo);
    if (!link_.serial().open().ok) {
        showSettingsDialog(true);
        return false;
    }
    link_.timer2().setInterval(1000);
    link_.timer4().setInterval(1200);
    placeOnScreen();
    HoldIndex = 0;
    link_.resetExchange();
    return true;
}

void Form1::selectAddress(const std::string& address) {
    for (const AddressRow& row : PanelLayout::addresses()) {
        if (!row.address.empty() && address == row.address) {
            findChild<QRadioButton*>(text(row.name))->setChecked(true);
            return;
        }
    }
    option1_->setChecked(true);
    link_.UnitAddress.clear();
}

void Form1::placeOnScreen() {
    const QScreen* screen = this->screen();
    if (screen == nullptr)
        return;
    const QRect area = screen->geometry();
    const double width = PanelLayout::kClientWidth / double(kTwipsPerPixel);
    const double height = outerHeightTwips() / double(kTwipsPerPixel);
    const double left = (area.width() - width) / 2;
    const double top = (area.height() - height) / 2 - 1350.0 / kTwipsPerPixel;
    // On a screen too small for the design the title bar must stay reachable.
    move(area.left() + std::max(0, static_cast<int>(left)),
         area.top() + std::max(0, static_cast<int>(top)));
}

int Form1::outerHeightTwips() const {
    return height() * kTwipsPerPixel + PanelLayout::kDecorationHeight;
}

void Form1::setOuterHeightTwips(int twips) {
    setFixedSize(width(), twipsToPixels(twips - PanelLayout::kDecorationHeight));
}

void Form1::sendClick(std::string_view command) {
    link_.commandText.assign(command);
    link_.commandText += '\r';
    link_.Hyouji(link_.commandText, 1);
}

void Form1::holdPressed(int holdIndex) {
    if (HoldBusy != 0)
        return;
    HoldBusy = 1;
    HoldIndex = static_cast<std::uint8_t>(holdIndex);
    link_.holdStarted();
    link_.commandText.assign(PanelLayout::holdCommand(holdIndex));
    link_.commandText += '\r';
    Cont_M_down();
}

void Form1::Cont_M_down() {
    timer1_->setInterval(100);
    link_.timer2().setInterval(150);
    link_.timer4().setInterval(200);
    link_.Hyouji(link_.commandText, 1);
    timer1_->setEnabled(true);
}

void Form1::Timer1_Timer() {
    if (HoldIndex == 0)
        return;
    link_.commandText.assign(PanelLayout::holdCommand(HoldIndex));
    link_.commandText += '\r';
    link_.Hyouji(link_.commandText, 1);
}

void Form1::Cont_M_up() {
    if (HoldBusy != 0)
        link_.holdEnded();
    HoldIndex = 0;
    timer1_->setEnabled(false);
    link_.timer2().setEnabled(false);
    link_.timer4().setEnabled(true);
    link_.setTx({});
    link_.setRx({});
    link_.timer2().setInterval(500);
    link_.timer4().setInterval(1000);
    link_.clearReceiveBuffer();
    HoldBusy = 0;
}

void Form1::endLostHold() {
    // A motor must not keep running because the release went to another window.
    if (HoldBusy != 0)
        Cont_M_up();
}

void Form1::Form_KeyDown(int keyCode, int shift) {
    if ((shift & 7) != 2 || keyCode != 72)
        return;
    setOuterHeightTwips(outerHeightTwips() >= PanelLayout::kHeightThreshold
                            ? PanelLayout::kCompactHeight
                            : PanelLayout::kFullHeight);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers();
        const int shift = (mods.testFlag(Qt::ShiftModifier) ? 1 : 0) |
                          (mods.testFlag(Qt::ControlModifier) ? 2 : 0) |
                          (mods.testFlag(Qt::AltModifier) ? 4 : 0);
        const int keyCode = key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z ? key->key() : 0;
        Form_KeyDown(keyCode, shift);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endLostHold();
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        endLostHold();
    QWidget::changeEvent(event);
}

void Form1::hideEvent(QHideEvent* event) {
    endLostHold();
    QWidget::hideEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    platform_.store.write(StoreKey::Adress, QString::fromStdString(link_.UnitAddress));
    if (link_.serial().isOpen())
        link_.serial().close();
    // The dialog and the console work through this window; they go with it, without asking
    // it to come back.
    if (form2_) {
        disconnect(form2_, nullptr, this, nullptr);
        form2_->close();
    }
    if (form3_) {
        disconnect(form3_, nullptr, this, nullptr);
        form3_->close();
    }
    event->accept();
}

void Form1::Command16_Click() { close(); }

void Form1::Command33_Click() {
    if (link_.serial().isOpen())
        link_.serial().close();
    values_.SavedBaudCode = values_.BaudCode;
    values_.SavedPortNo = values_.PortNo;
    showSettingsDialog(false);
}

void Form1::showSettingsDialog(bool modal) {
    if (form2_) {
        form2_->show();
        form2_->raise();
        form2_->activateWindow();
        return;
    }
    form2_ = new Form2(values_, link_.serial(), platform_.store, platform_.messages, this);
    form2_->setWindowTitle(form2_->windowTitle() + captionTail_);
    if (modal) {
        form2_->setWindowModality(Qt::ApplicationModal);
        // Nothing else is on screen yet: put the dialog in the middle of it.
        if (const QScreen* screen = this->screen()) {
            QRect frame = form2_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            form2_->move(frame.topLeft());
        }
        // On the start-up path the main window appears once the dialog has closed.
        connect(form2_, &Form2::finished, this, [this] {
            placeOnScreen();
            show();
        });
    }
    form2_->show();
    form2_->raise();
    form2_->activateWindow();
}

void Form1::Command74_Click() {
    frame15_->hide();
    link_.timer2().setInterval(7000);
    link_.timer4().setInterval(7500);
    if (!form3_) {
        form3_ = new Form3(link_, this);
        form3_->setWindowTitle(form3_->windowTitle() + captionTail_);
        connect(form3_, &Form3::closed, this, &Form1::consoleClosed);
    }
    form3_->show();
    form3_->raise();
    form3_->activateWindow();
}

void Form1::consoleClosed() {
    show();
    raise();
    activateWindow();
    frame15_->show();
    link_.timer2().setInterval(1000);
    link_.timer4().setInterval(1200);
}

void Form1::updateDisplays() {
    const ProjectorLink::Display& display = link_.display();
    label11_->setText(txShown_->of(display.tx));
    label12_->setText(rxShown_->of(display.rx));
    label25_->setText(statusShown_->of(display.status));
    label19_->setVisible(display.legendAck);
    label27_->setVisible(display.legendSpace);
    label28_->setVisible(display.legendCr);
}

} // namespace trv
