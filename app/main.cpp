// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "authortools.h"
#include "kestora.h"
#include "speech.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Answered before any window system is needed, so that it works on a server too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kestora %s\n", KEST_VERSION);
            return 0;
        }
    }
    if (const std::optional<int> status = kestAuthorTools::run(argc, argv))
        return *status;
    // Plain raster widget windows: the scene is a window of its own, and a top-level window that
    // could host GL widgets would load the GL driver (tens of MB) that nothing uses.
    QApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication application(argc, argv);
    // Building the speech engine takes seconds: begin now, so that the first scene reads at once.
    if (kestSpeech *speech = kestSpeech::instance())
        speech->prepare();
    kestRegisterActions();
    // An optional course folder or project document (the desktop entry's file argument).
    QString coursePath;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            coursePath = argument;
            break;
        }
    }
    int result = 0;
    {
        Kestora window(&application, nullptr, {}, coursePath);
        // A start the learner quit, or one that failed, shows no window.
        if (window.quitsAtOnce())
            return window.exitStatus();
        window.showMaximized();
        result = application.exec();
    }
    return result;
}
