#pragma once

#include "windows/common/MessageBox.h"

namespace trv {

// MessageBox through QMessageBox.
class QtMessageBox final : public MessageBox {
public:
    void warning(QWidget* parent, const QString& text, const QString& title,
                 const QString& detail) override;
    bool question(QWidget* parent, const QString& text, const QString& title, const QString& yes,
                  const QString& no) override;
};

} // namespace trv
