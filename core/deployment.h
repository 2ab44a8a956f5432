// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Values that differ between installations of the player: where the courses come from and
// which mail account scripts use by default. Compiled-in defaults, overridden by the machine's
// "Kestora/kestora.ini" in the XDG configuration folders (group "Deployment"), which an optional
// "kestora.ini" in the program's own folder overrides in turn (a portable copy).
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
    // base with the keys present in the INI file at path applied; a missing file changes nothing.
    static kestDeployment fromFile(const QString &path, const kestDeployment &base = defaults());
    // The files read for the values in force, weakest first: the XDG configuration folders in
    // reverse order of precedence, then the file in the program's folder.
    static QStringList searchedFiles();
    // The page that tells whether the network works: the configured one, else the course
    // server's root; empty when neither is configured.
    QString effectiveProbeUrl() const;

    // The values in force. Loaded on first use from the files of searchedFiles().
    static kestDeployment current();
    // Replaces the values in force (tests and the demo point them at loopback).
    static void setCurrent(const kestDeployment &values);
};
