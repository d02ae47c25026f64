#pragma once

#include "link/ProjectorLink.h"

#include <QWidget>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;

namespace trv {

// The command list console: picks any catalogue command, lets the user overtype its '%'
// digits and sends it through the main window.
class Form3 final : public QWidget {
    Q_OBJECT
public:
    Form3(ProjectorLink& link, QWidget* mainWindow);

    void Command1_Click(); // SEND
    void Command2_Click(); // CLOSE
    void Command3_Click(); // Basic Command List
    void Command4_Click(); // Expand Command List
    void Command5_Click(); // Expand Read Command List

    const std::string& sendStr() const { return SendStr; }

signals:
    // The console has closed, by CLOSE or by its frame.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Combo1_Click(QComboBox* combo);
    void Combo2_Click();
    void Text1_Change(const QString& text);
    void switchTo(QComboBox* shown);
    void takeEntry(QComboBox* combo);

    ProjectorLink& link_;
    std::string SendStr;
    QComboBox* combo1_ = nullptr;
    QComboBox* combo2_ = nullptr;
    QComboBox* combo3_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
};

} // namespace trv
