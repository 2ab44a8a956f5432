// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessible>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QDomElement;
class QPoint;
class QQuickItem;
class QQuickView;
class QSize;
class QPointF;
class QTouchEvent;
class QWidget;

// The bridge between the script runtime and the Qt Quick scene: shows the scene document
// letterboxed at 16:9 inside a host widget, turns scene commands into calls of the document's
// functions and the document's signals into its own. GUI thread only.
class WebView : public QObject
{
    Q_OBJECT
public:
    // basePath is the course folder (file names in commands are relative to it); host is the
    // widget the scene is embedded in. Neither the host nor the bridge owns the other.
    WebView(const QString &basePath, QWidget *host);
    ~WebView() override;

    // Marks an entity attribute the element does not have.
    static QString noValue();
    // The 23 entity attributes, in the order the document reads them.
    static const QStringList &entityAttributeNames();
    // The option list of an entity element, NoValue for every attribute it lacks.
    static QVariantList entityOptionList(const QDomElement &element);

    // A course-relative file name as an absolute path: backslashes become "/".
    QString resolvePath(const QString &path) const;
    QString basePath() const { return m_basePath; }

    QQuickView *quickView() const;
    QWidget *container() const;
    QQuickItem *sceneItem() const;
    bool isLoaded() const { return m_loaded; }
    bool isMuted() const { return m_muted; }
    QStringList menuEntityNames() const { return m_menuEntityNames; }
    // The entities waiting for initEntities(), a record each (see initEntities()).
    QVariantList pendingEntities() const;
    // The values of an entity's record: name, Color, X, Y, Width, Height, Z, picture file (a
    // path, empty for a file that is no picture, NoValue for none), Text, TextColor, TextSize,
    // DragDrop, DropRestore, then its access details Alt, active, clickable, scripted. Plain
    // decimals are numbers, every other value its text; besides the name and the file, a
    // missing value (or an empty Alt) is an invalid QVariant.
    enum EntityRecord { RecordFile = 7, EntityRecordSize = 17 };

    QString sceneName() const { return m_sceneName; }
    void setSceneName(const QString &name) { m_sceneName = name; }

    bool isWaitingForProcedure() const { return m_waitingForProcedure; }
    QString awaitedProcedure() const { return m_awaitedProcedure; }
    void setAwaitedProcedure(const QString &name);

    // Calls the document function with one argument; queued until the document has loaded.
    // A document that never loads does not hold commands for ever: past MaxPendingCalls, and
    // at once when the document is missing, calls are dropped with one warning.
    void callScene(const QString &function, const QVariant &argument);
    int pendingCalls() const { return m_pendingNames.size(); }
    static constexpr int MaxPendingCalls = 2000;

    // Sizes and centres the scene at 16:9 within the host widget.
    void fitToHost();

    // A menu entity is created at once; the others wait for initEntities().
    void addEntity(const QDomElement &element, bool isMenuEntity, const QString &subprojectKey);
    void initEntities();
    // What keyboard and screen-reader users need of an entity beyond its option list: its Alt
    // text, whether it runs scripts at all (StateActive) and whether a press does something.
    static QVariantMap accessInfo(const QDomElement &element, bool isMenuEntity);

    // Router commands; the payload is the command's text, fields joined by ";_;".
    void moveEntity(const QString &payload);
    void changeEntity(const QString &payload);
    void playVideo(const QString &payload);
    void playAudio(const QString &payload);
    void stopMedia();
    void stopSpecificMedia(const QString &payload);
    void pngAnimate(const QString &payload);
    void stopPngAnimation(const QString &payload);
    void shufflePosition(const QString &payload);
    void setClearColor(const QString &payload);
    void createBubble(const QString &payload);
    void activateImageBorder(const QString &payload);
    void showTextfile(const QString &payload);
    void ignoreUserinput(const QString &payload);
    void createVideoPlayer(const QString &payload);
    void videoPlayerAction(const QString &payload);
    void restoreEntityPos(const QString &payload);
    void animate(const QString &payload);

    void toggleMute();
    void setPaused();
    void projectReset();
    void subprojectReset();
    void resetWorkDone();

    // A touch at a point of the scene view (pixels): down or up, and a move.
    void sendTouch(const QPoint &scenePoint, bool down);
    void sendTouchMove(const QPoint &scenePoint);
    // A touch event of the main window: its first point, converted into the scene's pixels.
    void sendTouch(QTouchEvent *event, bool down);
    void sendTouchMove(QTouchEvent *event);
    // Where a touch at position (in the window) lands in a scene container of that size
    // centred in a window of that size. logOffsets writes the offsets to the debug log.
    static QPoint touchToScene(const QSize &window, const QSize &container, const QPointF &position, bool logOffsets);

signals:
    void clickedEntity(QString name, bool searchMenuBars);
    void hoverEntity(QString name, bool searchMenuBars);
    void dropEntity(QString dropped, QString target, bool searchMenuBars);
    void finishedVideoSignal();
    void finishedAudioSignal(QString name);
    void finishedLoad();
    void finishedReset();
    // A text to read aloud for learners who cannot see the screen (focus moves, drops).
    void announce(QString text);
    // The learner asked to silence the reading now playing.
    void stopReadingRequested();

public slots:
    void finishedLoading();
    void finishedVideo();
    void finishedAudio(QString name);
    void qmlClickedEntity(QString name);
    void qmlHoverEntity(QString name);
    void qmlDropEntity(QString dropped, QString target);
    void endPause();
    void procedureFinished(QString name);

private:
    struct Access
    {
        QString alt;
        bool active;
        bool clickable;
        bool scripted;
    };
    static Access accessOf(const QDomElement &element);

    QPointer<QQuickView> m_view;
    QPointer<QWidget> m_host;
    QPointer<QWidget> m_container;
    QPointer<QQuickItem> m_sceneItem;
    QStringList m_menuEntityNames;
    QStringList m_pendingNames;
    QVariantList m_pendingArguments;
    bool m_loaded = false;
    bool m_dropWarned = false;
    QString m_sceneName;
    QString m_basePath;
    bool m_muted = false;
    // The records of the pending entities, one after the other.
    QVariantList m_pendingEntities;
    bool m_waitingForProcedure = false;
    QString m_awaitedProcedure;
    // Tells the document whether an assistive tool listens.
    std::unique_ptr<QAccessible::ActivationObserver> m_accessObserver;
};
