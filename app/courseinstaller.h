// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QObject>
#include <QStringList>

class FileDownloader;
class KestProgress;

// The catalogue phase of start-up and the installation of the chosen course: compares the
// server catalogue with the local copy in the user folder, fetches the course's parts, its
// variables file and every file they name, drives the progress bars, and records the installed
// course in the local catalogue. An update is a transaction: everything is fetched into a staging
// folder beside the course folder and swapped in by renames only when every file arrived whole;
// the learner's own files in the course folder go along. Any failure leaves the course folder and
// the local catalogue as they were. Runs on the GUI thread; fetches wait in local event loops.
// Nothing is written or deleted outside the user folder.
class CourseInstaller : public QObject
{
    Q_OBJECT
public:
    // userFolder ends with "/"; serverHost is host[:port]; credentials are "user:password".
    CourseInstaller(
        const QString &userFolder, const QString &serverHost, const QString &credentials, QObject *parent = nullptr);
    ~CourseInstaller() override;

    QString catalogueAddress() const;
    // A part address with the catalogue credentials put in after its scheme.
    QString fetchAddress(const QString &partAddress) const;

    // The catalogue phase up to the course choice: online, fetches the server catalogue and
    // works out the download list; offline, reads the local catalogue. False when the server
    // catalogue could not be fetched or read (the caller goes on offline or ends the process).
    bool readCatalogues(bool online);
    QStringList downloadList() const { return m_downloadList; }
    QStringList offeredTitles() const { return m_offeredTitles; }

    // After the course choice: installs the course titled title, from the server catalogue when
    // it offers the title, else from the local one, and merges it into the local catalogue.
    // progress may be null.
    void installAndMerge(const QString &title, KestProgress *progress);

    // Results of installAndMerge. The main project file is empty when no part is marked main;
    // the variables file path is set once a part was fetched.
    bool courseInstalled() const { return m_courseInstalled; }
    QString courseFolder() const { return m_courseFolder; }
    QString mainProjectFile() const { return m_mainProjectFile; }
    QString variablesFilePath() const { return m_variablesFilePath; }
    bool downloadedAny() const { return m_downloaded; }
    bool downloadError() const { return m_downloadError; }
    // The files that failed in this start (course files, parts, refused addresses).
    QStringList failedFiles() const { return m_failed; }
    // The installer's record of the files it put into the course folder of folderName.
    QString recordPath(const QString &folderName) const;

    // How long a transfer may go without data before it fails (tests shorten it).
    void setStallTimeout(int ms) { m_stallMs = ms; }
    // Course files asked for at once: the network layer spreads them over up to six kept-alive
    // connections to the server and pipelines three on each, so no connection waits for the next
    // request; a few more are ready for when one finishes.
    static constexpr int InFlight = 24;
    // How often the progress bars follow the course files as they arrive.
    static constexpr int ProgressIntervalMs = 100;

    // Fetches the catalogue at address into target; with collectParts, returns the address of
    // every part of every course in it. *ok is false when no file arrived.
    QStringList downloadCatalogue(const QString &target, const QString &address, bool collectParts, bool *ok);
    // Fetches the server catalogue into temporary and returns the addresses of parts that are
    // new or have another version than in the local catalogue.
    QStringList findChangedParts(const QString &local, const QString &temporary, const QString &address, bool *ok);
    // Fetches name into courseFolder from beside partAddress; an existing file is only replaced
    // by a whole new body. False when it failed, or for a name that leaves the course folder.
    bool downloadFile(const QString &courseFolder, const QString &name, const QString &partAddress);
    // Fetches each distinct name, several at once, unless a download failed before, advancing
    // both bars. A failure ends the fetches still running.
    void downloadFileList(const QStringList &names, const QString &courseFolder, const QString &partAddress,
        double &overall, double share);

signals:
    // A download problem the learner must see (the window shows it in a warning box).
    void warning(QString text);
    // The course folder is known; sent before anything is fetched into it.
    void courseFolderChosen(QString folder);

private:
    void installCourse(const QDomElement &course);
    // Fetches the parts that need it, and what they name, into staging. False on any failure.
    bool stageCourse(const QList<QDomElement> &parts, const QStringList &needed, const QString &staging);
    // Carries the learner's files over and swaps staging in for the course folder.
    bool swapIn(const QString &staging, bool fresh);
    void merge();
    // A part address may only lead to the course server, over http or https.
    bool addressAllowed(const QString &partAddress) const;
    // Fetches a part or a variables file and waits until it arrived or failed. With optional, a
    // file the server does not have (404) is no failure: it stays missing.
    bool fetchAndWait(const QString &target, const QString &address, bool optional = false);
    // A file the server answered with 404 that the course may name without providing it.
    bool notProvided(const FileDownloader &downloader, const QString &target) const;
    void noteFailure(const QString &target);
    void showOverall(double overall);

    QString m_userFolder;
    QString m_serverHost;
    QString m_credentials;
    bool m_online = false;
    QStringList m_downloadList;
    QStringList m_offeredTitles;
    QDomDocument m_catalogue;
    QDomDocument m_localCatalogue;
    QDomDocument m_writableCatalogue;
    QDomElement m_installedCopy;
    KestProgress *m_progress = nullptr;
    bool m_downloaded = false;
    bool m_downloadError = false;
    bool m_courseInstalled = false;
    bool m_stale = false;
    bool m_swapped = false;
    int m_stallMs;
    QStringList m_failed;
    QStringList m_fetched; // relative to the staging folder, this start
    QString m_stagingFolder;
    QString m_courseFolder;
    QString m_mainProjectFile;
    QString m_variablesFilePath;
};
