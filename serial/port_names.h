#pragma once

#include <QList>
#include <QString>

// One serial port present on the machine.
struct PortDescription {
    QString name;        // "ttyUSB0"
    QString location;    // "/dev/ttyUSB0"
    bool usb = false;    // it has a USB vendor id
    QString byIdName;    // its link in /dev/serial/by-id, if it has one
    QString description; // "FTDI FT232R USB UART"
};

// The present ports in COM order (COM n is the n-th): USB adapters first,
// by their by-id name, which stays the same whichever socket they are in;
// then on-board ports by name.
QList<PortDescription> comPortOrder(QList<PortDescription> ports);

// The serial ports Qt finds on this machine, in no particular order.
QList<PortDescription> presentPorts();
