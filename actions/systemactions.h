// SPDX-License-Identifier: GPL-3.0-or-later
// Actions that reach beyond the scene: the settings file, project and scene changes, quitting,
// opening links and sending mail. Navigation and mail are commands for the application object.
#pragma once

#include "kestobject.h"

// Section, key: reads the key from the settings file ("" when absent), stores it in the
// variable of the same name and returns that variable's value.
class GetIniValue : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Section, key, value: writes the resolved value to the settings file (created when missing)
// and to the variable named like the key; returns the variable's value.
class SetIniValue : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Target: stops the media, sends the scene change and ends the rest of its script. Runs even
// in a stopped script once LoadFile has set the root's keepAlive.
class ChangeLevel : public kestObject
{
    Q_OBJECT
public:
    ChangeLevel();
    QString execute() override;
};

// Path: asks the application to load that project document (path taken below USERPATH).
class ChangeProject : public kestObject
{
    Q_OBJECT
public:
    ChangeProject();
    QString execute() override;
};

// Runs child 0 (a project change), blocks its worker thread until the application reports the
// new project loaded, then runs child 1 (a scene change in the new project).
class LoadFile : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Asks the application's event loop to end, which ends the program.
class CloseApp : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Url: hands it to the desktop's default handler on the GUI thread; does not wait.
class OpenLink : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Server, account, password, (sender), (recipient), subject, body, attachment: sends one mail
// through the application. "default" or an empty server takes the installation's account.
class SendMail : public kestObject
{
    Q_OBJECT
public:
    SendMail();
    QString execute() override;
};
