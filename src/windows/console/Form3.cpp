#include "windows/console/Form3.h"

#include "link/Catalogue.h"
#include "windows/common/DesignFont.h"
#include "windows/common/Twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace trv {
namespace {

QString latin1(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr int kClientWidth = 10005;
constexpr int kOuterHeight = 2500;
constexpr int kListTop = 1560;

// A page of command lines with a carriage-return mark, drawn rather than shipped.
QIcon consoleIcon() {
    QPixmap pixmap(64, 64);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(64, 64, 64), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(4.5, 2.5, 23, 27));
    painter.setPen(QPen(QColor(0, 128, 128), 2));
    for (int y = 8; y <= 20; y += 4)
        painter.drawLine(QPointF(8, y), QPointF(24, y));
    painter.setPen(QPen(QColor(255, 0, 0), 2));
    painter.drawLine(QPointF(22, 23), QPointF(22, 26));
    painter.drawLine(QPointF(22, 26), QPointF(12, 26));
    painter.drawLine(QPointF(12, 26), QPointF(15, 23.5));
    painter.end();
    return QIcon(pixmap);
}

QComboBox* makeList(QWidget* parent, const char* name, std::span<const std::string_view> entries,
                    bool editable, int top) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(editable);
    if (editable)
        combo->setInsertPolicy(QComboBox::NoInsert);
    QStringList items;
    items.reserve(static_cast<qsizetype>(entries.size()));
    for (std::string_view entry : entries)
        items << latin1(entry);
    combo->addItems(items);
    combo->setMaxVisibleItems(20);
    combo->setGeometry(twipsRect(120, top, editable ? 8655 : 5055, 300));
    return combo;
}

} // namespace

Form3::Form3(ProjectorLink& link, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      link_(link) {
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Command List"));
    setWindowIcon(consoleIcon());
    setGeometry(twipsRect(2415, 4725, kClientWidth, 4215));

    const QFont font = designFont(9.75, true);
    const auto button = [&](const char* name, const char* caption, QRect geometry) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(font);
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* command3 =
        button("Command3", "Basic Command List", twipsRect(120, 120, 2415, 375));
    QPushButton* command4 =
        button("Command4", "Expand Command List", twipsRect(2760, 120, 2655, 375));
    QPushButton* command5 =
        button("Command5", "Expand Read Command List", twipsRect(5760, 120, 3015, 375));
    QPushButton* command1 = button("Command1", "SEND", twipsRect(9000, 680, 855, 375));
    QPushButton* command2 = button("Command2", "CLOSE", twipsRect(9000, 1320, 855, 375));

    text1_ = new QLineEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(twipsRect(120, 720, 8655, 300));

    const auto label = [&](const char* name, const char* caption, QRect geometry) {
        auto* l = new QLabel(QString::fromLatin1(caption), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextFormat(Qt::PlainText);
        l->setFont(font);
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
        l->setPalette(palette);
        l->setGeometry(geometry);
        return l;
    };
    label2_ = label("Label2", "[CR] :Carriage Return Code (0x0D)", twipsRect(240, 1200, 3975, 300));
    label1_ = label("Label1", "% :Parameter (0-9).", twipsRect(4560, 1200, 2895, 300));

    combo1_ = makeList(this, "Combo1", Catalogue::basic(), false, 2400);
    combo2_ = makeList(this, "Combo2", Catalogue::expand(), true, 2880);
    combo3_ = makeList(this, "Combo3", Catalogue::expandRead(), true, 3360);

    QWidget* order[] = {combo1_,  command1, command2, command3, text1_,
                        command4, command5, combo2_,  combo3_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(command2, &QPushButton::clicked, this, &Form3::Command2_Click);
    connect(command3, &QPushButton::clicked, this, &Form3::Command3_Click);
    connect(command4, &QPushButton::clicked, this, &Form3::Command4_Click);
    connect(command5, &QPushButton::clicked, this, &Form3::Command5_Click);
    connect(combo1_, &QComboBox::activated, this, [this] { Combo1_Click(combo1_); });
    connect(combo3_, &QComboBox::activated, this, [this] { Combo1_Click(combo3_); });
    connect(combo2_, &QComboBox::activated, this, &Form3::Combo2_Click);
    connect(text1_, &QLineEdit::textChanged, this, &Form3::Text1_Change);

    Form_Load();
}

void Form3::Form_Load() {
    combo1_->hide();
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kOuterHeight - kDecorationTwips));
    combo1_->show();
    combo2_->hide();
    combo3_->hide();
    label1_->hide();
    label2_->hide();
    combo1_->setCurrentIndex(0);
    Combo1_Click(combo1_);
    takeEntry(combo1_);
    for (QComboBox* combo : {combo1_, combo2_, combo3_})
        combo->move(combo->x(), twipsToPixels(kListTop));
}

void Form3::takeEntry(QComboBox* combo) {
    const QByteArray entry = combo->currentText().toLatin1();
    const std::string_view part =
        Catalogue::commandPart({entry.constData(), std::size_t(entry.size())});
    SendStr.assign(part);
    SendStr += '\r';
    text1_->setText(latin1(part) + QStringLiteral("[CR]"));
}

void Form3::Combo1_Click(QComboBox* combo) {
    label2_->show();
    takeEntry(combo);
}

void Form3::Combo2_Click() {
    label2_->show();
    if (combo2_->currentText().contains(QLatin1Char('%'))) {
        label1_->show();
        text1_->setFocus();
    } else {
        label1_->hide();
    }
    takeEntry(combo2_);
}

void Form3::Text1_Change(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    SendStr.assign(Catalogue::commandPart({bytes.constData(), std::size_t(bytes.size())}));
    // One command per SEND: a pasted line break must not end it early or start another.
    std::erase_if(SendStr, [](char c) { return c == '\r' || c == '\n'; });
    SendStr += '\r';
}

void Form3::switchTo(QComboBox* shown) {
    for (QComboBox* combo : {combo1_, combo2_, combo3_}) {
        if (combo != shown)
            combo->hide();
    }
    shown->show();
    shown->setCurrentIndex(0);
    if (shown == combo2_)
        Combo2_Click();
    else
        Combo1_Click(shown);
    takeEntry(shown);
}

void Form3::Command3_Click() { switchTo(combo1_); }
void Form3::Command4_Click() { switchTo(combo2_); }
void Form3::Command5_Click() { switchTo(combo3_); }

void Form3::Command1_Click() {
    const bool timer2Was = link_.timer2().isEnabled();
    const bool timer4Was = link_.timer4().isEnabled();
    link_.timer2().setEnabled(false);
    link_.timer4().setEnabled(false);
    std::string copy = SendStr;
    if (!link_.Hyouji(copy, 1)) {
        // Nothing went out: the exchange in progress, if any, goes on as before.
        link_.timer2().setEnabled(timer2Was);
        link_.timer4().setEnabled(timer4Was);
        return;
    }
    label1_->hide();
    label2_->hide();
    link_.timer2().setEnabled(true);
    link_.timer4().setEnabled(true);
}

void Form3::Command2_Click() { close(); }

void Form3::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

} // namespace trv
