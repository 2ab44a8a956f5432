// SPDX-License-Identifier: GPL-3.0-or-later
// A loaded scene in a shown host widget, and helpers to reach into the document.
#pragma once

#include "webview.h"

#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <memory>

namespace sceneTest {

// Script errors of the scene documents, collected while a test runs.
inline QStringList &scriptErrors()
{
    static QStringList errors;
    return errors;
}

inline QtMessageHandler &previousHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void recordScriptErrors(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QtMessageHandler previous = previousHandler();
    const bool fromScene = message.contains(QLatin1String("qrc:/Resources/"));
    const bool isError = message.contains(QLatin1String("Error")) || message.contains(QLatin1String("Unable to assign"))
        || message.contains(QLatin1String("not a function"));
    if (type == QtWarningMsg && fromScene && isError)
        scriptErrors() << message;
    if (previous)
        previous(type, context, message);
}

// Installs the collector once; the earlier handler still prints everything.
inline void watchScriptErrors()
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        previousHandler() = qInstallMessageHandler(recordScriptErrors);
    }
    scriptErrors().clear();
}

// Attributes written as "Name=A X=10 Width=100" (no blanks inside a value).
inline QStringList attrs(const char *names)
{
    return QString::fromUtf8(names).split(QLatin1Char(' '));
}

// An Entity element with the given attributes ("Name=A", "X=10", ...).
inline QDomElement entityElement(const QStringList &attributes)
{
    static QDomDocument doc;
    QDomElement element = doc.createElement(QStringLiteral("Entity"));
    for (const QString &attribute : attributes) {
        const int eq = attribute.indexOf(QLatin1Char('='));
        element.setAttribute(attribute.left(eq), attribute.mid(eq + 1));
    }
    return element;
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Runs a tool to the end; false when it is missing or fails.
inline bool runTool(const QString &program, const QStringList &arguments)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The private sound server of the test command, or none.
inline bool soundServerReachable()
{
    return runTool(QStringLiteral("pactl"), { QStringLiteral("info") });
}

struct Scene
{
    std::unique_ptr<QWidget> host;
    std::unique_ptr<WebView> view;

    // Shows a host of the given size and waits for the document; at 1600 x 900 one frame unit
    // is one pixel.
    bool start(const QString &basePath, const QSize &size = QSize(1600, 900))
    {
        host.reset(new QWidget);
        host->resize(size);
        host->show();
        if (!QTest::qWaitForWindowExposed(host.get()))
            return false;
        view.reset(new WebView(basePath, host.get()));
        QSignalSpy loaded(view.get(), &WebView::finishedLoad);
        if (!loaded.wait(10000))
            return false;
        return QTest::qWaitForWindowExposed(view->quickView());
    }

    QQuickItem *root() const { return view->quickView()->rootObject(); }
    QQuickItem *canvas() const { return view->sceneItem(); }

    // Evaluates JavaScript in the document's scope (its ids are visible).
    QVariant eval(const QString &script) const
    {
        QQmlExpression expression(qmlContext(root()), root(), script);
        const QVariant value = expression.evaluate();
        if (expression.hasError())
            qWarning("%s", qPrintable(expression.error().toString()));
        return value;
    }

    // Calls a function of mycanvas and returns its result.
    QVariant call(const char *function, const QVariant &argument = QVariant()) const
    {
        QVariant result;
        QMetaObject::invokeMethod(canvas(), function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, argument));
        return result;
    }

    // The picture of the scene after its next frame. The offscreen platform cannot read back an
    // embedded window through the window itself, so the screen is asked for it then.
    QImage grab() const
    {
        QQuickView *quick = view->quickView();
        QSignalSpy swapped(quick, &QQuickWindow::frameSwapped);
        quick->update();
        swapped.wait(2000);
        QImage image = quick->grabWindow();
        if (image.isNull())
            image = quick->screen()->grabWindow(quick->winId()).toImage();
        return image;
    }

    QObject *object(const QString &name) const { return root()->findChild<QObject *>(name); }

    // Entities and the scene in one go: creates them, then lets input through.
    void addEntities(const QList<QStringList> &entities)
    {
        for (const QStringList &attributes : entities)
            view->addEntity(entityElement(attributes), false, QString());
        view->initEntities();
        view->resetWorkDone();
    }

    void touch(int x, int y) const
    {
        view->sendTouch(QPoint(x, y), true);
        view->sendTouch(QPoint(x, y), false);
    }
};

} // namespace sceneTest
