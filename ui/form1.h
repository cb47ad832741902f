// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/connection_sequence.h"
#include "serial/mscomm.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

class SSTab;
class TrafficList;
class ValueBox;
namespace form1 {
struct Control;
}
namespace host {
class EventPump;
}

// The program's one window: its controls, its three handlers and the routines
// the connection sequence calls back into.
class Form1 : public QWidget, private aldl::SequenceWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Handlers.
    void Form_Load();
    void cmdconnect_Click();
    void cmdexit_Click();
    // The desktop or a terminal ends the program: as Quit, also past an open box.
    void quitFromOutside();

    // Routines.
    void parse_as_hex(QByteArray textstring) override;
    void check_packet(const QByteArray& buffer, bool& connected) override;
    void apply_data(std::span<const std::int32_t> data) override;

    MSComm& serialControl() { return *mscomm32; }
    bool sequenceRunning() const { return sequenceRunning_; }

signals:
    // The program is ending (Quit, or the window closed while connecting).
    void programEnding();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void setTabOrder();
    void endProgram();
    void showRaisedError(const RaisedError& error);
    void setStatus(const QString& text);

    // What the connection sequence needs of the window.
    int portNumber() override;
    void addSentLine(const QString& text) override;
    void showNotConnected() override;
    void showWarning(const QString& prompt, const QString& title) override;
    void yield() override;
    void yieldUntil(std::int64_t deadline) override;

    SSTab* SSTab1 = nullptr;
    QComboBox* comport = nullptr;
    QComboBox* cbox_baud = nullptr;
    TrafficList* listsent = nullptr;
    TrafficList* listreceived = nullptr;
    QLabel* lblconnected = nullptr;
    QPushButton* cmdconnect = nullptr;
    QPushButton* cmdexit = nullptr;
    // Each value box with its row of the control table.
    std::vector<std::pair<ValueBox*, const form1::Control*>> valueBoxes_;
    MSComm* mscomm32 = nullptr;

    std::unique_ptr<host::EventPump> pump_;
    bool sequenceRunning_ = false;
    bool quitRequested_ = false;
};
