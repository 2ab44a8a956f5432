// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QString>

class CourseInstaller;
class Kestora;
class kestApplication;
class kestProject;

// What a start ends in: the course to run, or a quit with the process's exit status and what the
// learner is told about it.
struct kestStartupOutcome
{
    enum Action { RunCourse, Quit };
    Action action = RunCourse;
    int status = 0;
    QString message; // for the learner; may be empty
    bool alarm = false; // the message is a failure shown in a box of its own, not in the window
    int lingerMs = 0; // how long the window stays up before the quit
};

// Copies every file below from into to, making folders as needed. With keepExisting a file that
// is already there is left as it is (a learner's own copy); otherwise it is replaced. The copies
// can be written to. False, with the failing copy in failedCopy, when one cannot be made.
bool kestCopyFolder(const QString &from, const QString &to, bool keepExisting, QString *failedCopy = nullptr);

// The player's start-up: user folder and settings file, start-up variables, the connectivity
// probe, the catalogues, the course choice and its installation. With a course path (a course
// folder or its main project document) it opens that course instead, without the server. It only
// decides; the window shows the outcome.
class kestStartup
{
    // The learner's texts keep the translation context they always had.
    Q_DECLARE_TR_FUNCTIONS(Kestora)
public:
    kestStartup(Kestora &window, kestApplication &application, kestProject &project);

    kestStartupOutcome run(const QString &coursePath);

    bool isOnline() const { return m_online; }
    bool downloadError() const { return m_downloadError; }
    QString userFolder() const { return m_userFolder; }
    QString courseFolder() const { return m_courseFolder; }
    QString mainProjectFile() const { return m_mainProjectFile; }
    QString courseTitle() const { return m_courseTitle; }
    QString languageCode() const { return m_languageCode; }

private:
    void prepareUserFolder();
    bool checkConnection();
    bool openLocalCourse(const QString &path);
    // False when the learner chose to quit.
    bool chooseCourse();
    void installCourse();
    void rememberChoice();
    void setCourseFolder(const QString &folder);

    Kestora &m_window;
    kestApplication &m_application;
    kestProject &m_project;
    CourseInstaller *m_installer = nullptr; // child of the window: late part downloads still land

    bool m_online = false;
    bool m_downloadError = false;
    QString m_userFolder;
    QString m_courseFolder;
    QString m_mainProjectFile;
    QString m_courseTitle;
    QString m_languageCode;
    QString m_variablesFilePath;
};
