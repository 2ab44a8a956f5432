// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "kestora.h"

#include <QApplication>

int main(int argc, char *argv[])
{
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
