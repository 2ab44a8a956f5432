// SPDX-License-Identifier: GPL-3.0-or-later
#include "systemactions.h"

#include "deployment.h"
#include "kestapplication.h"
#include "kestcommands.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestscheduler.h"
#include "variablestore.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSettings>
#include <QStringList>
#include <QUrl>

using namespace kestVariables;

namespace {

void log(const QString &line)
{
    qCDebug(lcActions).noquote() << line;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Writes the value at once; the file and its folder are created when missing.
void writeSetting(const QString &section, const QString &key, const QString &value)
{
    const QString path = kestPaths::settingsFile();
    if (path.isEmpty() || key.isEmpty()) {
        log(QStringLiteral("[LIB] SetIniValue: no settings file or no key, nothing written"));
        return;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qCWarning(lcActions).noquote() << QStringLiteral("[LIB] SetIniValue: could not write ") + path;
}

} // namespace

QString GetIniValue::execute()
{
    if (!passesSkipTest())
        return QString();
    const QString section = argument(0);
    const QString key = argument(1);
    assignVariable(key, kestPaths::readSetting(section, key));
    return variableValue(key);
}

QString SetIniValue::execute()
{
    if (!passesRunTest())
        return QString();
    const QString section = argument(0);
    const QString key = argument(1);
    QString value = argument(2);
    log(QStringLiteral("[LIB] SetIniValue (") + section + QLatin1Char(',') + key + QLatin1Char(',') + value
        + QLatin1Char(')'));
    value = resolveValue(value);
    writeSetting(section, key, value);
    assignVariable(key, value);
    return variableValue(key);
}

ChangeLevel::ChangeLevel()
{
    connectCommands();
}

QString ChangeLevel::execute()
{
    kestObject *top = root();
    if (!top->keepAlive.load() && !passesRunTest())
        return QString();
    const QString target = argument(0);
    emit gsSendEvent(kestCommand::StopMedia, QString());
    emit gsSendEvent(kestCommand::GotoSubProject, target);
    log(QStringLiteral("[LIB] ChangeLevel (") + target + QLatin1Char(')'));
    top->skipObject = true;
    return QString();
}

ChangeProject::ChangeProject()
{
    connectCommands();
}

QString ChangeProject::execute()
{
    log(QStringLiteral("ChangeProject starting!"));
    kestObject *top = root();
    if (top->skipObject.load())
        return QString();
    log(QStringLiteral("ChangeProject survived skipObject!"));
    const bool keepAlive = top->keepAlive.load();
    const bool scriptRunning = statScriptRunning.load();
    log(boolText(keepAlive) + QLatin1Char(' ') + boolText(scriptRunning) + QLatin1Char(' ')
        + boolText(top != statRunningObject.load()));
    if (keepAlive || scriptRunning) {
        log(QStringLiteral("ChangeProject survived statScriptRunning && statRunningObject!"));
        const QString path = resolveUserPath(argument(0));
        log(QStringLiteral("Change Project: ") + path);
        emit gsSendEvent(kestCommand::ChangeProject, path);
    }
    return QString();
}

QString LoadFile::execute()
{
    log(QStringLiteral("Load file! Children length: ") + QString::number(childActionCount()));
    kestObject *top = root();
    kestApplication *app = kestApplication::instance();

    // Connected before the checks, so that no stop request can slip in between them and the wait.
    QEventLoop loop;
    if (app) {
        // Queued even on one thread: the report may come while child 0 runs, before exec().
        connect(app, &kestApplication::projectLoaded, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        connect(app, &QObject::destroyed, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    }
    // A project change that never reports back (its ChangeProject skipped, the application
    // shutting down) must not hold the thread forever, so a stop request ends the wait too.
    // The project change itself emits stopAll without stopping this script; only a stop that
    // set the root's flag counts. Queued, so that exit(), which flags after signalling, is seen.
    connect(
        top, &kestObject::loopStop, &loop,
        [&loop, top] {
            if (top->skipObject.load())
                loop.quit();
        },
        Qt::QueuedConnection);

    if (top->skipObject.load() || !statScriptRunning.load() || top != statRunningObject.load())
        return QString();

    log(QStringLiteral("LoadFile entering loop!"));
    // Stays set for the rest of the script: the level change must run although the new
    // project's scripts take over from this one.
    top->keepAlive = true;

    log(QStringLiteral("LoadFile changeProject entering!"));
    argument(0);
    log(QStringLiteral("LoadFile changeProject done!"));

    if (app)
        loop.exec();

    log(QStringLiteral("LoadFile changelevel entering!"));
    argument(1);
    log(QStringLiteral("LoadFile changelevel done!"));
    return QString();
}

QString CloseApp::execute()
{
    if (!passesSkipTest())
        return QString();
    log(QStringLiteral("Close App!"));
    // Quitting from a worker thread would touch the GUI thread's event loops unguarded.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    return QString();
}

QString OpenLink::execute()
{
    if (!passesRunTest())
        return QString();
    const QString url = argument(0);
    log(QStringLiteral("Open link: ") + url);
    // The desktop services belong to the GUI thread and need a GUI application.
    // A course may open web pages and mail, not local files or programs.
    const QUrl target(url);
    const QString scheme = target.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("mailto")) {
        qCWarning(lcActions).noquote() << QStringLiteral("[LIB] OpenLink: refused ") + url;
        return QString();
    }
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QMetaObject::invokeMethod(
            app, [target] { QDesktopServices::openUrl(target); }, Qt::QueuedConnection);
    }
    return QString();
}

SendMail::SendMail()
{
    connectCommands();
}

QString SendMail::execute()
{
    if (!passesSkipTest())
        return QString();
    QString server = argument(0);
    QString account = argument(1);
    QString password = argument(2);
    argument(3); // sender and recipient come from variables; the arguments only run
    // The password stays out of the log: logs are shared with whoever helps the learner.
    log(server + account + (password.isEmpty() ? QString() : QStringLiteral("********")));
    argument(4);
    const QString subjectText = argument(5);
    const QString bodyText = argument(6);
    const QString attachmentText = argument(7);

    if (server.isEmpty() || server == QLatin1String("default")) {
        const kestDeployment deployment = kestDeployment::current();
        server = deployment.smtpServer;
        account = deployment.smtpAccount;
        password = deployment.smtpPassword;
    }
    QString recipient = variableValue(QStringLiteral("VarTeacherMail"));
    if (recipient.isEmpty())
        recipient = kestDeployment::current().smtpMailbox;

    QStringList fields = {
        server,
        account,
        password,
        variableValue(QStringLiteral("VarLearnerMail")),
        recipient,
        resolveValue(subjectText),
        variableValue(QStringLiteral("VarLearnerName")) + QStringLiteral(" : Mobile Version --> ") + bodyText,
        resolveUserPath(attachmentText),
    };
    // The receiver splits at "|": one inside a field would shift every later field, sending
    // the body as the attachment path and so on. A look-alike keeps the text readable; in an
    // address or a password it fails visibly at the server instead of going astray.
    const QChar separator = QLatin1Char('|');
    const QChar brokenBar(0x00A6);
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).contains(separator)) {
            fields[i].replace(separator, brokenBar);
            log(QStringLiteral("[LIB] SendMail (field ") + QString::number(i)
                + QStringLiteral(" held \"|\", sent as \"") + brokenBar + QStringLiteral("\")"));
        }
    }
    emit gsSendEvent(kestCommand::SendMail, fields.join(separator));
    return QString();
}
