// SPDX-License-Identifier: GPL-3.0-or-later
// A loaded scene in a shown host widget, and helpers to reach into the document.
#pragma once

#include "logcapture.h"
#include "mediafiles.h"
#include "testfiles.h"
#include "webview.h"

#include <QDomDocument>
#include <QImage>
#include <QPixmap>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <memory>

namespace sceneTest {

// The log since the test's init() called watchScriptErrors().
inline std::unique_ptr<LogCapture> &sceneLog()
{
    static std::unique_ptr<LogCapture> log;
    return log;
}

inline void watchScriptErrors()
{
    sceneLog().reset();
    sceneLog() = std::make_unique<LogCapture>();
}

// The script errors of the scene documents in that log.
inline QStringList scriptErrors()
{
    QStringList errors;
    if (!sceneLog())
        return errors;
    for (const QString &message : sceneLog()->warnings()) {
        const bool isError = message.contains(QLatin1String("Error"))
            || message.contains(QLatin1String("Unable to assign")) || message.contains(QLatin1String("not a function"));
        if (message.contains(QLatin1String("qrc:/Resources/")) && isError)
            errors << message;
    }
    return errors;
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
