// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "authortools.h"
#include "kestora.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = kestAuthorTools::run(argc, argv))
        return *status;
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
