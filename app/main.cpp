// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "authortools.h"
#include "kestora.h"

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
    kestRegisterActions();
    int result = 0;
    {
        Kestora window(&application);
        window.showMaximized();
        result = application.exec();
    }
    return result;
}
