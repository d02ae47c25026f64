#pragma once

#include "link/settings/PortValues.h"
#include "link/settings/SettingsStore.h"
#include "link/transport/SerialPort.h"
#include "windows/common/MessageBox.h"

#include <QWidget>

class QLineEdit;
class QRadioButton;

namespace trv {

// The communication settings dialog: chooses the COM port and the line speed, opens the port
// and stores the choice.
class Form2 final : public QWidget {
    Q_OBJECT
public:
    Form2(PortValues& values, SerialPort& serial, SettingsStore& store, MessageBox& messages,
          QWidget* mainWindow);

    void Command1_Click(); // OK
    void Command2_Click(); // Cancel

    // The width a window needs for `caption` in its title bar: the text in a bold face of at
    // least 11 points, as desktops draw titles, beside an icon and three buttons.
    static int captionWidth(const QString& caption);

signals:
    // The dialog has closed, whichever way.
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Form_Load();
    void Text1_Change(const QString& text);
    void selectBaudOption();
    void warnRetry(const QString& detail);
    void showMainWindow();
    // The design's size; wider when a longer caption (a profile's name after it) needs it.
    void fitCaption();

    PortValues& values_;
    SerialPort& serial_;
    SettingsStore& store_;
    MessageBox& messages_;
    QRadioButton* baudOptions_[2] = {};
    QRadioButton* portOptions_[5] = {};
    QLineEdit* text1_ = nullptr;
};

} // namespace trv
