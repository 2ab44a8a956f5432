// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "kestora.h"
#include "speech.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Building the speech engine takes seconds: begin now, so that the first scene reads at once.
    if (kestSpeech *speech = kestSpeech::instance())
        speech->prepare();
    kestRegisterActions();
    int result = 0;
    {
        Kestora window(&application);
        window.showMaximized();
        result = application.exec();
    }
    return result;
}
