// SPDX-License-Identifier: GPL-3.0-or-later
#include "testactions.h"

#include "kestbranchmanager.h"
#include "kestscheduler.h"
#include "scriptbuilder.h"
#include "valueactions.h"

#include <QDomDocument>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

#ifndef KEST_TEST_WITHOUT_ACTIONS
#include "actionregistry.h"
#endif

QMutex TestRecord::s_lock;
QStringList TestRecord::s_journal;

QString TestRecord::execute()
{
    const QString text = elementText();
    QMutexLocker locker(&s_lock);
    s_journal.append(text);
    return text;
}

QStringList TestRecord::journal()
{
    QMutexLocker locker(&s_lock);
    return s_journal;
}

void TestRecord::clearJournal()
{
    QMutexLocker locker(&s_lock);
    s_journal.clear();
}

QStringList lines(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char('|'), QString::SkipEmptyParts);
}

QString literal(const QString &text)
{
    return QStringLiteral("<Number>") + text.toHtmlEscaped() + QStringLiteral("</Number>");
}

QString call(const QString &action, const QStringList &args, const char *argumentType)
{
    const QString type = QLatin1String(argumentType);
    QString body = QLatin1Char('<') + action + QLatin1Char('>');
    for (const QString &text : args)
        body += QLatin1Char('<') + type + QLatin1Char('>') + text.toHtmlEscaped() + QStringLiteral("</") + type
            + QLatin1Char('>');
    return body + QStringLiteral("</") + action + QLatin1Char('>');
}

QString call(const char *action, const QString &args)
{
    QStringList texts = args.split(QLatin1Char('|'), QString::SkipEmptyParts);
    for (QString &text : texts) {
        if (text == QLatin1String("-"))
            text.clear();
    }
    return call(QLatin1String(action), texts);
}

QString call(const char *action, const char *args)
{
    return call(action, QString::fromUtf8(args));
}

QStringList commands(const QSignalSpy &spy, QChar separator)
{
    QStringList seen;
    for (const QList<QVariant> &signal : spy)
        seen << signal.at(0).toString() + separator + signal.at(1).toString();
    return seen;
}

bool drainEvents(QObject *target, int timeoutMs)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        target, [done] { *done = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([done] { return done->load(); }, timeoutMs);
}

std::unique_ptr<kestObject> buildBody(const QString &body)
{
    QDomDocument doc;
    if (!doc.setContent(QStringLiteral("<Code>") + body + QStringLiteral("</Code>")))
        return nullptr;
    return std::unique_ptr<kestObject>(kestScriptBuilder::buildScript(doc.documentElement()));
}

kestBranchManager *branchManager(
    QObject *owner, const QString &name, const QString &body, QList<QDomDocument> &documents)
{
    QDomDocument doc;
    if (!doc.setContent(QStringLiteral("<Code>") + name + body + QStringLiteral("</Code>")))
        qFatal("bad script %s", qPrintable(body));
    documents << doc;
    return new kestBranchManager(owner, doc.documentElement(), name);
}

kestApplication::ProcedureSource procedureSource(const QDomDocument &procedures)
{
    return [procedures](const QString &name) -> std::unique_ptr<kestObject> {
        for (QDomElement c = procedures.documentElement().firstChildElement(); !c.isNull();
             c = c.nextSiblingElement()) {
            if (c.firstChild().nodeValue().trimmed() == name)
                return kestScriptBuilder::buildScript(c);
        }
        return nullptr;
    };
}

std::unique_ptr<QThread> runOnWorker(kestObject *root)
{
    QThread *home = QThread::currentThread();
    std::unique_ptr<QThread> worker(QThread::create([root, home] {
        root->execute();
        root->moveToThread(home);
    }));
    root->moveToThread(worker.get());
    worker->start();
    return worker;
}

std::unique_ptr<kestObject> buildRegistered(const QString &body, bool registered)
{
    auto root = buildBody(body);
    if (root && registered) {
        statRunningObject = root.get();
        statScriptRunning = true;
    }
    return root;
}

void clearRunning()
{
    statRunningObject = nullptr;
    statScriptRunning = false;
}

void registerTestActions()
{
#ifdef KEST_TEST_WITHOUT_ACTIONS
    kestScriptBuilder::registerAction<ActionList>(QStringLiteral("ActionList"));
    kestScriptBuilder::registerAction<Text>(QStringLiteral("Text"));
    kestScriptBuilder::registerAction<Number>(QStringLiteral("Number"));
    kestScriptBuilder::registerAction<Boolean>(QStringLiteral("Boolean"));
#else
    kestRegisterActions();
#endif
    kestScriptBuilder::registerAction<TestRecord>(QStringLiteral("TestRecord"));
    kestScriptBuilder::registerAction<TestArgument>(QStringLiteral("TestArgument"));
    kestScriptBuilder::registerAction<TestStop>(QStringLiteral("TestStop"));
}
