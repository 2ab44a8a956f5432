// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestprogress.h"

#include <QDateTime>
#include <QMainWindow>

#include <memory>

class QApplication;
class kestApplication;
class kestEventFilter;
class kestProject;
class kestStartup;
struct kestStartupOutcome;

namespace Ui {
class KestoraClass;
}

// The player's main window. Its constructor runs the start-up and shows its outcome: the load of
// the course's main project document, whose scene it then shows for the rest of the run, or the
// reason the start ends. With a course path (a course folder or its main project document) it
// runs that course instead, without the server.
class Kestora : public QMainWindow
{
    Q_OBJECT
public:
    explicit Kestora(QApplication *application, QWidget *parent = nullptr, Qt::WindowFlags flags = {},
        const QString &coursePath = QString());
    ~Kestora() override;

    Q_INVOKABLE kestProject *getProject() const { return m_project; }

    bool isOnline() const;
    bool downloadError() const;
    bool isPaused() const { return m_paused; }
    QString userFolder() const;
    QString courseFolder() const;
    QString mainProjectFile() const;
    QString courseTitle() const;
    QString languageCode() const;
    // The start ends at once, before the event loop runs, with this exit status: the caller need
    // not show the window. Otherwise the window quits by itself when the start found no course.
    bool quitsAtOnce() const { return m_quitsAtOnce; }
    int exitStatus() const { return m_exitStatus; }
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
    void showOutcome(const kestStartupOutcome &outcome);
    void startCourse();

    std::unique_ptr<KestProgress> m_progress;
    qint64 m_lastBackPress = 0; // kestClock::now() of the last Back press
    QApplication *m_application;
    std::unique_ptr<Ui::KestoraClass> m_ui;
    std::unique_ptr<kestApplication> m_kestApp;
    kestProject *m_project = nullptr; // a child, deleted first by the destructor
    bool m_paused = false;
    bool m_touching = false; // between a touch begin and the next touch end
    bool m_selfVoicing = false;
    std::unique_ptr<kestEventFilter> m_eventFilter;
    std::unique_ptr<kestStartup> m_startup; // kept: the course's folders are its answers
    bool m_quitsAtOnce = false;
    int m_exitStatus = 0;
};
