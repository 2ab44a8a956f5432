// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomDocument>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QReadWriteLock>

#include <limits>
#include <memory>

class QWidget;
class WebView;
class kestObject;
class kestSubProject;

// The loaded course: reads the project document, owns the scenes and the scene bridge, keeps
// track of the current scene and how the learner got there, and finds procedures by name. One
// per main window, reused for every course loaded. Lives on the GUI thread; only
// getProcedure() and currentSubProjectName() are called from worker threads.
class kestProject : public QObject
{
    Q_OBJECT
public:
    // window: the main window (its central widget hosts the scene) or any host widget.
    explicit kestProject(QWidget *window);
    ~kestProject() override;

    // Loads the document at path and enters its first scene. A missing file leaves the loaded
    // course running and reports "Error! <path>"; a malformed or too deeply nested one leaves it
    // running too.
    bool loadProject(const QString &path);
    void resetProject();
    void enterSubProject(int index);
    // By name, or by a keyword: "%NEXT", "%PREVIOUS", "%RETURN", "%REPEAT".
    void gotoSubProject(const QString &target);
    void goBack();
    kestSubProject *currentSubProject() const;
    bool callProcedure(const QString &name);
    // A fresh tree of the named procedure, owned by the caller; nullptr when unknown. Safe from
    // worker threads.
    std::unique_ptr<kestObject> getProcedure(const QString &name) const;
    void runScriptSlot(int slot);
    void loadGlobalSettings();
    void loadExternVariables(const QString &path);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int currentIndex() const { return m_current; }
    int previousIndex() const { return m_previous; }
    QList<int> history() const { return m_history; }
    QList<kestSubProject *> subProjects() const { return m_subProjects; }
    QList<kestSubProject *> menuBarSubProjects() const { return m_menuBars; }
    QList<kestSubProject *> procedureSubProjects() const { return m_procedures; }
    WebView *webView() const { return m_webView.get(); }
    QString dataFolder() const { return m_dataFolder; }
    void setDataFolder(const QString &folder) { m_dataFolder = folder; }
    // The current scene's name; "" without one. Safe from worker threads.
    QString currentSubProjectName() const;

signals:
    void readText(QString text);
    void loadFinished();

private:
    QWidget *hostWidget() const;
    void setCurrent(int index);

    QWidget *m_window;
    int m_width = 0;
    int m_height = 0;
    QDomDocument m_document;
    QList<kestSubProject *> m_subProjects; // ordinary scenes; positions are the navigation indices
    QList<kestSubProject *> m_menuBars;
    QList<kestSubProject *> m_procedures;
    int m_current = 0;
    int m_previous = 0;
    QList<int> m_history;
    qint64 m_lastSwitch = std::numeric_limits<qint64>::min() / 2; // kestClock::now() of the last switch
    std::unique_ptr<WebView> m_webView; // created by the first load
    QString m_dataFolder;
    // Worker threads look procedures and the scene name up while the GUI thread rebuilds scenes:
    // the GUI thread writes the tables (lists, current index, scene scripts) under this lock.
    mutable QReadWriteLock m_tablesLock;
};
