// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the start-up benchmark: a QQuickView showing one Rectangle from the resources,
// as the player's scene document is shown. It writes one line on stderr when the item has been
// created and one when the first frame of the window is on screen, then runs until ended.
#include <QGuiApplication>
#include <QQuickView>

#include <cstdio>
#include <utility>

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl(QStringLiteral("qrc:/startup_floor.qml")));
    if (view.status() != QQuickView::Ready)
        return 1;
    // setSource() creates the item before it returns, so its Component.onCompleted has run. The
    // player's moment is the same one: its Script_Main starts right after its scene document was
    // completed, still in the main window's constructor, before any window is shown.
    std::fprintf(stderr, "startup_floor: item completed\n");

    bool framed = false;
    QObject::connect(&view, &QQuickWindow::frameSwapped, &view, [&framed] {
        if (!std::exchange(framed, true))
            std::fprintf(stderr, "startup_floor: first frame\n");
    });
    view.show();
    return application.exec();
}
