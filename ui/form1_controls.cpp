// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1_controls.h"

namespace form1 {

namespace {
constexpr const char* kStatusTip = "Displays the connection status.";
} // namespace

const Control kControls[] = {
    // "Connect" tab.
    {"framain", Kind::Frame, "tab0", 90, 405, 7410, 3855, "Settings", -1, nullptr, FrameFont},
    {"txtdescription", Kind::Label, "framain", 120, 360, 3735, 615,
     "This program will attempt to establish a connection between your computers serial port "
     "to your vehicles ALDL connection port.  ",
     -1, nullptr, Centred | Wrapped},
    {"fraserial", Kind::Frame, "framain", 120, 1200, 3735, 855, "Serial Port", -1, nullptr, Plain},
    {"txtserial", Kind::Label, "fraserial", 120, 240, 2535, 495,
     "Select the serial port that you are using to connect to your vehicle", -1, nullptr,
     Centred | Wrapped},
    {"comport", Kind::DropDown, "fraserial", 2640, 360, 975, 315, nullptr, 12, "Select a COM port.",
     Plain},
    {"Frame1", Kind::Frame, "framain", 120, 2280, 3735, 855, "Baud Rate", -1, nullptr, Plain},
    {"txt_baud", Kind::Label, "Frame1", 120, 240, 2535, 495,
     "Set the serial baud rate.  Currently only 8192 is supported.", -1, nullptr,
     Centred | Wrapped},
    {"cbox_baud", Kind::DropDown, "Frame1", 2640, 360, 975, 315, nullptr, 15,
     "8192 set by default.", Plain},
    {"Frame2", Kind::Frame, "framain", 75, 3285, 3210, 435, "", -1, nullptr, Plain},
    {"txtstatus", Kind::Label, "Frame2", 90, 135, 1695, 225, "Connection status: ", -1, kStatusTip,
     StatusFont},
    {"lblconnected", Kind::Label, "Frame2", 1815, 165, 1305, 210, "Not Connected", -1, kStatusTip,
     Bold},
    {"frasent", Kind::Frame, "framain", 4200, 240, 2775, 1215, "Sent Data", -1, nullptr, Plain},
    {"listsent", Kind::List, "frasent", 120, 240, 2535, 840, nullptr, 10, "Bytes being sent.",
     BlueText},
    {"frareceived", Kind::Frame, "framain", 4200, 1560, 3015, 1575, "Received Data", -1, nullptr,
     Plain},
    {"listreceived", Kind::List, "frareceived", 120, 240, 2775, 1230, nullptr, 8, "Bytes recieved.",
     RedText},
    {"cmdconnect", Kind::Button, "framain", 4455, 3300, 1095, 375, "Connect", 5,
     "Attempt to connect to the ECM.", Plain},
    {"cmdexit", Kind::Button, "framain", 5925, 3300, 1095, 375, "Quit", 6, "Quit program.", Plain},

    // "Sensor Data" tab.
    {"frame_sensor", Kind::Frame, "tab1", 90, 405, 7410, 3855, "Sensor Data", -1, nullptr,
     FrameFont},
    {"LBL_RPM", Kind::Label, "frame_sensor", 45, 360, 405, 195, "RPM:", -1, nullptr, AutoSize},
    {"rpmtext", Kind::ValueBox, "frame_sensor", 1740, 330, 750, 270, "", 20,
     "Engine speed in RPM's", Bold, "rpm", 11, mode1::engineSpeed},
    {"Coolant", Kind::Label, "frame_sensor", 45, 675, 1530, 195, "Coolant Temperature:", -1,
     nullptr, AutoSize},
    {"cool_text", Kind::ValueBox, "frame_sensor", 1740, 645, 750, 270, "", 23,
     "Coolant Temperature (degrees)", Bold, "degrees", 7, mode1::temperature},
    {"Coolant_startup", Kind::Label, "frame_sensor", 45, 1005, 1650, 195,
     "Coolant Temp (startup):", -1, nullptr, AutoSize},
    {"cools_text", Kind::ValueBox, "frame_sensor", 1740, 960, 750, 270, "", 32,
     "Coolant Temperature (degrees at startup)", Bold, "degrees", 8, mode1::temperature},
    {"tps_lbl", Kind::Label, "frame_sensor", 30, 1305, 1635, 210, "TPS Voltage:", -1, nullptr,
     Plain},
    {"tps_text", Kind::ValueBox, "frame_sensor", 1740, 1275, 750, 270, "", 25, nullptr, Bold,
     "volts", 9, mode1::throttleVolts},
    {"IAC_lbl", Kind::Label, "frame_sensor", 60, 1635, 900, 195, "IAC Position:", -1, nullptr,
     AutoSize},
    // On the tab itself, over the frame, in the column of the other boxes.
    {"IAC_text", Kind::ValueBox, "tab1", 1830, 2010, 750, 285, "", 27, nullptr, Bold, "steps", 25,
     mode1::steps},
    {"Battery_volt", Kind::Label, "frame_sensor", 45, 1935, 1125, 195, "Battery Voltage:", -1,
     nullptr, AutoSize},
    {"battery_text", Kind::ValueBox, "frame_sensor", 1740, 1950, 750, 270, "", 29, nullptr, Bold,
     "volts", 34, mode1::batteryVolts},

    // "Trouble Codes" and "Logging" tabs.
    {"contruction_trouble", Kind::Label, "tab2", 1650, 1425, 4200, 840, "Under construction....",
     -1, nullptr, Centred},
    {"contruction_log", Kind::Label, "tab3", 1680, 1770, 4200, 840, "Under construction....", -1,
     nullptr, Centred},

    // "About..." tab.
    {"Image1", Kind::Picture, "tab4", 165, 390, 4485, 4185, ":/carnovo/about.jpg", -1, nullptr,
     Plain},
    {"Label1", Kind::Label, "tab4", 4680, 735, 2775, 255, "Carnovo Ver 0.33", -1, nullptr,
     Centred | Bold},
    {"Label2", Kind::Label, "tab4", 4935, 1200, 2325, 870,
     "Made in a cold garage\nfor an old car that\nstill runs on 8192 baud.\nDrive safe.", -1,
     nullptr, Centred},
    {"Label3", Kind::Label, "tab4", 4905, 2295, 2400, 285, "Copyright \u00A9 2026 Carnovo", -1,
     nullptr, Centred},
};

const int kControlCount = sizeof kControls / sizeof kControls[0];

std::vector<const Control*> valueBoxRows() {
    std::vector<const Control*> rows;
    for (const Control& c : kControls)
        if (c.kind == Kind::ValueBox)
            rows.push_back(&c);
    return rows;
}

} // namespace form1
