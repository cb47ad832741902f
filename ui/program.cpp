// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/program.h"

#include "ui/caption_fit.h"
#include "ui/form1.h"
#include "ui/quit_signals.h"

#include <QApplication>
#include <cstdio>

int runCarnovo(int argc, char** argv, const std::function<void(Form1&)>& shown) {
    QApplication app(argc, argv);
    // Also the window's X11 class, which the desktop entry's StartupWMClass names.
    QApplication::setApplicationName("Carnovo");
    // Wayland compositors find the window's icon and name through the desktop entry.
    QGuiApplication::setDesktopFileName("io.github.carnovo.Carnovo");
    QuitSignals quitSignals;
    Form1 form;
    QObject::connect(&quitSignals, &QuitSignals::received, &form, &Form1::quitFromOutside);
    const QStringList cut = form1::cutCaptions(form);
#ifdef Q_OS_WIN
    const char* remedy = "the window needs Windows' own MS Sans Serif and Courier New";
#else
    const char* remedy = "install the Liberation fonts (fonts-liberation)";
#endif
    if (!cut.isEmpty())
        std::fprintf(
            stderr, "carnovo: in the fonts found (%s) the captions of %s do not fit; %s.\n",
            qPrintable(form1::facesInUse(form)), qPrintable(cut.join(QLatin1String(", "))), remedy);
    form.show();
    if (shown)
        shown(form);
    return QApplication::exec();
}
