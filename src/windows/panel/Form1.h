#pragma once

#include "link/ProjectorLink.h"
#include "link/settings/PortValues.h"
#include "windows/common/Platform.h"
#include "windows/panel/ShownText.h"

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace trv {

class Form2;
class Form3;
class TrafficRecord;

// The main window: the button panel, the traffic displays and the status line.
class Form1 final : public QWidget {
    Q_OBJECT
public:
    Form1(const Platform& platform, PortValues& values, QWidget* parent = nullptr);
    ~Form1() override;

    // Records the traffic in `record`; a record that fails is said once in a warning box.
    void useRecord(TrafficRecord& record);
    // Runs the load and shows the window, or first the settings dialog when no port opened.
    void start();
    // Names the profile in the captions of this window, the dialog and the console; before
    // start().
    void setProfileName(const QString& name);
    // True when the stored port opened; otherwise the settings dialog is showing, modally.
    bool Form_Load();

    void Command16_Click(); // END
    void Command33_Click(); // COM
    void Command74_Click(); // Command Table
    void Cont_M_down();
    void Cont_M_up();
    void Timer1_Timer();
    void Form_KeyDown(int keyCode, int shift);

    ProjectorLink& link() { return link_; }
    Timer& timer1() { return *timer1_; }
    std::uint8_t holdIndex() const { return HoldIndex; }
    std::int16_t holdBusy() const { return HoldBusy; }
    Form2* settingsDialog() const;
    Form3* console() const;

    int outerHeightTwips() const;
    void setOuterHeightTwips(int twips);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanel();
    void sendClick(std::string_view command);
    void holdPressed(int holdIndex);
    void endLostHold();
    void selectAddress(const std::string& address);
    void placeOnScreen();
    void showSettingsDialog(bool modal);
    void consoleClosed();
    void updateDisplays();
    void recordFailed(const QString& problem);

    Platform platform_;
    PortValues& values_;
    ProjectorLink link_;
    std::unique_ptr<Timer> timer1_;
    std::uint8_t HoldIndex = 0;
    std::int16_t HoldBusy = 0;

    QLabel* label11_ = nullptr;
    QLabel* label12_ = nullptr;
    QLabel* label25_ = nullptr;
    QLabel* label19_ = nullptr;
    QLabel* label27_ = nullptr;
    QLabel* label28_ = nullptr;
    std::optional<ShownText> txShown_, rxShown_, statusShown_;
    QFrame* frame15_ = nullptr;
    QRadioButton* option1_ = nullptr;
    QPointer<Form2> form2_;
    QPointer<Form3> form3_;
    QString captionTail_; // after each window's own caption: the profile's name
};

} // namespace trv
