#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for tests: the slave is a real serial device that
// the program opens by path; the test plays the far end on the master.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    void closeMaster();

    void write(const QByteArray& bytes);
    // Reads from the master until `count` bytes arrived or `timeoutMs` passed,
    // letting the Qt event loop run meanwhile so the port can send.
    QByteArray read(int count, int timeoutMs = 2000);

private:
    int master_ = -1;
    QString slavePath_;
};

// Pumps the Qt event loop for `ms` milliseconds.
void pumpEvents(int ms);
