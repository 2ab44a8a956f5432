// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "kestora.h"

#include <QApplication>

int main(int argc, char *argv[])
{
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
