// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (logout, kill), SIGINT (Ctrl+C) and SIGHUP (the terminal closed)
// reach the program through its event loop instead of ending it on the
// spot, so that it can close its port, remove its lock file and put the
// driver's latency timer back, as Quit does. The handler only writes the
// signal's number into a pipe that the event loop watches.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};
