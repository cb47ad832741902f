// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/windows_ports.h"

#include "tests/support/print.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

// Each refusal names the port and its location and says what to do about it.
TEST(WindowsPorts, RefusalsSayWhatTheUserCanDo) {
    const QString renumber = "give the adapter the number COM2 in Device Manager: Ports (COM & "
                             "LPT), the adapter, Properties, Port Settings, Advanced, COM Port "
                             "Number.";
    const struct {
        SerialError::Kind kind;
        QStringList present;
        QString text;
    } cases[] = {
        {SerialError::NoSuchDevice,
         {"COM1", "COM7"},
         "there is no such port. The ports present are COM1, COM7: choose one of these, or " +
             renumber},
        {SerialError::NoSuchDevice,
         {},
         "there is no such port, and Windows knows of no serial port. Plug in the cable, or " +
             renumber},
        {SerialError::Busy,
         {"COM2"},
         "another program is using the port. Close it (a terminal program, or a phone or GPS "
         "tool that watches serial ports) and try again."},
        {SerialError::Other, {"COM2"}, "The device is not ready."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(openRefusalText(2, "\\\\.\\COM2", c.kind, "The device is not ready.", c.present),
                  "Could not open COM 2 (\\\\.\\COM2): " + c.text);
}

// The ports come from the registry's device map in number order, COM10 after COM9.
TEST(WindowsPorts, PresentPortsAreReadFromTheDeviceMapInNumberOrder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const QStringList before = presentComPorts();
    const struct {
        const wchar_t* name;
        const wchar_t* port;
    } added[] = {{L"\\Device\\CarnovoTest10", L"COM10"}, {L"\\Device\\CarnovoTest9", L"COM9"}};
    for (const auto& a : added)
        RegSetValueExW(key, a.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(a.port),
                       DWORD((wcslen(a.port) + 1) * sizeof(wchar_t)));
    const QStringList found = presentComPorts();
    for (const auto& a : added)
        RegDeleteValueW(key, a.name);
    RegCloseKey(key);
    EXPECT_EQ(found.size(), before.size() + 2);
    EXPECT_LT(found.indexOf("COM9"), found.indexOf("COM10"));
    EXPECT_EQ(found.indexOf("COM10"), found.size() - 1) << found.join(' ').toStdString();
}

} // namespace
