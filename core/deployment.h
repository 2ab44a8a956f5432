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
    // Extra certificate authorities (PEM) trusted for STARTTLS; may be empty. A relative path in
    // the file is taken from the file's folder.
    QString smtpCaFile;
    // Port of every mail server that scripts name; a value in the file that is no port number
    // (1-65535) keeps the one before, with a warning.
    int smtpPort = 25;

    // The compiled-in defaults.
    static kestDeployment defaults();
    // The defaults with the keys present in the INI file at path applied; a missing file
    // changes nothing.
    static kestDeployment fromFile(const QString &path);

    // The values in force. Loaded on first use from "kestora.ini" beside the executable.
    static kestDeployment current();
    // Replaces the values in force (tests and the demo point them at loopback).
    static void setCurrent(const kestDeployment &values);
};
