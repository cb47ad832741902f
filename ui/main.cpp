#include "ui/form1.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Carnovo");
    // Wayland compositors find the window's icon and name through the desktop entry.
    QGuiApplication::setDesktopFileName("io.github.carnovo.Carnovo");
    Form1 form;
    form.show();
    return QApplication::exec();
}
