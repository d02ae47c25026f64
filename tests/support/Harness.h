#pragma once

#include "Fakes.h"
#include "link/settings/PortValues.h"
#include "windows/common/Platform.h"
#include "windows/panel/Form1.h"

#include <QPushButton>
#include <memory>

namespace trv::testing {

// A main window on fakes, with a store that opens port 1 unless a test says otherwise.
struct Harness {
    FakeSerialPort serial;
    FakeSettingsStore store;
    ManualClock clock;
    FakeMessageBox messages;
    PortValues values;
    std::unique_ptr<Form1> form;

    Harness() {
        store.values[QStringLiteral("ComPort")] = QStringLiteral("1");
        store.values[QStringLiteral("BaudRate")] = QStringLiteral("96");
    }
    Form1& make() {
        form = std::make_unique<Form1>(Platform{serial, store, clock, messages}, values);
        return *form;
    }
    Form1& started() {
        make().start();
        return *form;
    }
    QPushButton* button(const char* name) const {
        return form->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    template <typename T> T* child(const char* name) const {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    QString label(const char* name) const;
    bool visible(const char* name) const;
};

} // namespace trv::testing
