// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// One serial port present on the machine.
struct PortDescription {
    QString name;        // "ttyUSB0"
    QString location;    // "/dev/ttyUSB0"
    bool usb = false;    // a USB adapter
    QString byIdName;    // its link in /dev/serial/by-id, if it has one
    QString description; // "FTDI FT232R USB UART"
};

// The present ports in COM order (COM n is the n-th): USB adapters first,
// by their by-id name, which stays the same whichever socket they are in;
// then on-board ports by name. Numbers count as numbers: ttyS2 before ttyS10.
QList<PortDescription> comPortOrder(QList<PortDescription> ports);

// Where the system shows its devices; tests point them at a tree of their own.
struct DeviceRoots {
    QString sys = QStringLiteral("/sys");
    QString dev = QStringLiteral("/dev");
};

// Every serial port on this machine, whether this user may open it or not:
// USB adapters, and on-board ports with a UART behind them. In no
// particular order.
QList<PortDescription> presentPorts(const DeviceRoots& roots = {});
