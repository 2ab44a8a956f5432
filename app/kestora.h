// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestprogress.h"

#include <QDateTime>
#include <QMainWindow>

#include <memory>

class CourseInstaller;
class QApplication;
class kestApplication;
class kestEventFilter;
class kestProject;

namespace Ui {
class KestoraClass;
}

// The player's main window. Its constructor runs the whole start-up: user folder and settings
// file, start-up variables, course choice, installation, and the load of the course's main
// project document, whose scene it then shows for the rest of the run.
class Kestora : public QMainWindow
{
    Q_OBJECT
public:
    explicit Kestora(QApplication *application, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Kestora() override;

    Q_INVOKABLE kestProject *getProject() const { return m_project; }

    bool isOnline() const { return m_online; }
    bool downloadError() const { return m_downloadError; }
    bool isPaused() const { return m_paused; }
    QString userFolder() const { return m_userFolder; }
    QString courseFolder() const { return m_courseFolder; }
    QString mainProjectFile() const { return m_mainProjectFile; }
    QString courseTitle() const { return m_courseTitle; }
    QString languageCode() const { return m_languageCode; }
    // Made on first use: its large picture would cost every start, and most starts show none.
    KestProgress *progressWindow();

    // Copies the default settings file to target, word by word, one per line; never over an
    // existing file. True when it was written.
    static bool installDefaultSettings(const QString &target);

public slots:
    void deactivateApp();
    void activateApp();
    void warningAusgabe(QString text);

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The Back key: runs the scene's back script; a second press within 2 s quits.
    void backPressed();
    void watchSceneKeys();
    // F2: the scene's announcements are read aloud, or no longer; kept in the settings file.
    void toggleSelfVoicing();
    void announce(const QString &text);
    void prepareUserFolder();
    bool checkConnection();
    void chooseCourse();
    void installCourse();
    [[noreturn]] void quitAfterCatalogueFailure();
    void rememberChoice();
    void startCourse();

    std::unique_ptr<KestProgress> m_progress;
    bool m_downloadError = false;
    QString m_variablesFilePath;
    qint64 m_lastBackPress = 0; // kestClock::now() of the last Back press
    QApplication *m_application;
    std::unique_ptr<Ui::KestoraClass> m_ui;
    std::unique_ptr<kestApplication> m_kestApp;
    kestProject *m_project = nullptr; // a child, deleted first by the destructor
    bool m_paused = false;
    bool m_touching = false; // between a touch begin and the next touch end
    bool m_selfVoicing = false;
    std::unique_ptr<kestEventFilter> m_eventFilter;
    CourseInstaller *m_installer = nullptr; // child of the window: late part downloads still land

    // Start-up state.
    bool m_online = false;
    QString m_userFolder;
    QString m_courseFolder;
    QString m_mainProjectFile;
    QString m_courseTitle;
    QString m_languageCode;
};
