// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "prio.h"

#include <QDomElement>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>

// The base of every script action. A script is a tree of these, built from a Code element on the
// thread that runs it; the root's flags steer the whole tree. The flags are atomics because the
// engine and stop requests on other threads write them while the tree's own thread reads them.
class kestObject : public QObject
{
    Q_OBJECT
public:
    explicit kestObject(QObject *parent = nullptr);

    std::atomic<Prio> prio { LEAVE };
    std::atomic<bool> skipObject { false };
    std::atomic<bool> keepAlive { false };
    QDomElement element;
    bool hasChildren = true;

    // Runs the action and returns its result; an action that does nothing returns "".
    virtual QString execute() = 0;

    // Stores the element, takes its "name" attribute as object name and builds the child actions
    // of every child element whose tag is a registered action type.
    void load(const QDomElement &element);

    // The top of the parent chain: the object whose flags count for the whole tree.
    kestObject *root() const;

    // Skip test: false when the root was told to stop, unless the root is kept alive (a project
    // change of its own stops every script, this one included, which must still go on).
    bool passesSkipTest() const;
    // Run test: also false when no script is registered as running (kept alive: true).
    bool passesRunTest() const;

    int childActionCount() const;
    kestObject *childAction(int index) const;
    // Executes child action k and returns its result; "" when there is no such child.
    QString argument(int index) const;

    // The element's own text: the value of its first child node, "" when it has none. Read once
    // by load(): value actions run often, and the document is not changed under a tree.
    const QString &elementText() const;

    // The pre-emption check of a newer branch with priority newPrio on action (which may be null).
    static void endAllOn(kestObject *action, Prio newPrio);
    // A newer branch of priority prio reaches this action: endAll(prio). A plain call rather than
    // a signal connected to endAll: a connection on every action made large trees slow.
    void newThread(Prio prio);

    // While one exists on a thread, the next action constructed there is taken for a child that
    // is put below a parent action at once (the builder does so): it leaves the application's
    // stop signals to its root, which hands them on.
    class ChildConstruction
    {
    public:
        ChildConstruction();
        ~ChildConstruction();
        Q_DISABLE_COPY(ChildConstruction)
    };

signals:
    void gsSendEvent(const QString &command, const QString &payload);
    void readText(QString text);
    void ausgabe(QString text);
    void loopStop();
    void audioStop(QString);
    void videoStop();
    void recordStop();
    void loopPause();
    void endTextToSpeech();
    void breakAllProc();

public slots:
    void stopAll();
    void exit();
    void stopAudio(QString);
    void stopVideo();
    void stopRecord();
    void endAll(Prio newPrio);

protected:
    // Queued route of this action's commands to the application's command router.
    void connectCommands();
    // Queued route of endTextToSpeech() to the application, for the actions that emit it.
    void connectSpeechEnd();

    void childEvent(QChildEvent *event) override;

private:
    // Connects the application's stop signals to relay(); once per action, and only for a root.
    void listenToApplication();
    // Runs slot on this action and on every action below it that does not listen itself.
    void relay(void (kestObject::*slot)());

    QString m_text;
    bool m_listening = false;
    // Children that are not actions (timers, loops, an action still under construction when it
    // was parented). While there are none, child action k is simply child k.
    QVector<QObject *> m_otherChildren;
};
