// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

class kestApplication;
class kestProject;
class WebView;

// The table that turns a script command into calls on the project, its current scene, the scene
// bridge and the mail client. Installs itself as the application's command handler for its
// lifetime; lives on the GUI thread, where the application calls it.
class kestCommandRouter : public QObject
{
    Q_OBJECT
public:
    // The router becomes a child of project.
    kestCommandRouter(kestApplication *app, kestProject *project);
    ~kestCommandRouter() override;

    // Runs one command; a name without a route is ignored.
    void route(const QString &command, const QString &payload);
    // True when command has a row in the table (a row may do nothing on purpose).
    static bool hasRoute(const QString &command);

    // Waits of the mail client: for one reply and for the whole conversation (ms).
    void setMailTimeouts(int replyMs, int conversationMs);

    kestProject *project() const { return m_project; }
    // The project's scene bridge; nullptr before a course was loaded.
    WebView *sceneBridge() const;

signals:
    // A mail command ended: "Message sent" or "Failed to send message".
    void mailStatus(const QString &status);
    // What the learner should be told about a mail that failed; the application shows it.
    void mailWarning(const QString &text);

private:
    void changeEntity(const QString &payload);
    void callProcedure(const QString &name);
    void changeProject(const QString &path);
    void sendMail(const QString &payload);

    friend struct kestCommandRows;

    QPointer<kestApplication> m_app;
    QPointer<kestProject> m_project;
    int m_mailReplyMs = 30000;
    int m_mailConversationMs = 60000;
};
