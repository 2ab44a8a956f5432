// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Values that differ between installations of the player: where the courses come from and
// which mail account scripts use by default. Compiled-in defaults, overridden by an optional
// "kestora.ini" (group "Deployment") in the program's own folder.
struct kestDeployment
{
    QString courseServerHost; // host[:port] of the course server
    QString catalogueUser; // the catalogue credentials, six characters each
    QString cataloguePassword;
    QString probeUrl; // page fetched to tell whether the network works
    QString smtpServer;
    QString smtpAccount;
    QString smtpPassword;
    QString smtpMailbox; // mailbox of the default account, the default recipient
    QString smtpCaFile; // extra certificate authorities (PEM) trusted for STARTTLS; may be empty
    int smtpPort = 25; // port of every mail server that scripts name

    // The compiled-in defaults.
    static kestDeployment defaults();
    // The defaults with the keys present in the INI file at path applied; a missing file
    // changes nothing. A relative SmtpCaFile is taken from the file's folder; an SmtpPort that
    // is no port number (1-65535) keeps the default, with a warning.
    static kestDeployment fromFile(const QString &path);

    // The values in force. Loaded on first use from "kestora.ini" beside the executable.
    static kestDeployment current();
    // Replaces the values in force (tests and the demo point them at loopback).
    static void setCurrent(const kestDeployment &values);
};
