// Helpers for driving the real dialogs against the recording drivers.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "RecState.h"
#include "UdpConnect.h"
#include "core/Dekl.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace guitest {

template <class T>
T* Child(const QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Text of a dialog's status bar (Windows-1250), "<none>" without one.
inline std::string StatusOf(const QWidget* dialog) {
    const auto* line = Child<TStatusLine>(dialog, "StatusBar1");
    return line != nullptr ? line->Text() : "<none>";
}

inline void Click(const QWidget* parent, const char* name) {
    auto* button = Child<QAbstractButton>(parent, name);
    if (button != nullptr) QTest::mouseClick(button, Qt::LeftButton);
}

// A record with an open connection through the recording driver of kind 4.
inline void Connect(TData& data, uint8_t address = 7) {
    SetDefaults(&data);
    data.Kind = kKindLan;
    data.ModuleAddress = address;
    uint32_t handle = 0;
    if (OpenInterface(kKindLan, handle, data.InitParams) == 0) {
        data.Handle = handle;
        data.Connected = 1;
    }
}

inline void Disconnect(TData& data) {
    uint32_t handle = data.Handle;
    CloseInterface(data.Kind, handle);
    data.Connected = 0;
    data.Handle = 0;
}

// A record connected over the real UDP driver to a simulator on loopback,
// as the connection dialog leaves it; false when the link did not open.
inline bool ConnectUdp(TData& rec, uint16_t port, uint8_t address) {
    SetDefaults(&rec);
    return ConnectOverUdp(rec, port, address, kDefaultSpeedIndex);
}

// A module as the recording driver answers for it: registers keep what is
// written, identification, inputs and status register.
struct TFakeModule {
    std::map<uint32_t, uint32_t> registers;
    std::string ident = "RQ-905  1.02";
    uint32_t inputs = 0;
    std::array<uint32_t, 4> statusRegister{};

    TRecReply operator()(const std::array<uint32_t, 8>& r) {
        TRecReply reply;
        const uint32_t command = r[1], index = r[2];
        switch (command) {
            case 0:
                reply.cells[0] = inputs;
                break;
            case 100:
                reply.cells = statusRegister;
                break;
            case 101:
                statusRegister.fill(0);
                break;
            case 102:
                reply.cells[2] = registers[r[4]];
                break;
            case 103:
                registers[r[4]] = r[6];
                break;
            case 200:
                for (std::size_t i = 0; i < 4; ++i) {
                    const std::size_t at = index * 4 + i;
                    reply.cells[i] = at < ident.size() ? static_cast<unsigned char>(ident[at]) : 0u;
                }
                break;
            default:
                break;
        }
        return reply;
    }
};

// Runs check() once the next modal dialog is up, then closes it.
inline void WhenModal(std::function<void(QWidget*)> check) {
    QTimer::singleShot(0, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr) {
            check(modal);
            modal->close();
        }
    });
}

}  // namespace guitest
