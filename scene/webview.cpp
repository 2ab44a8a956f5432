// SPDX-License-Identifier: GPL-3.0-or-later
#include "webview.h"

#include "kestlog.h"
#include "kestscenelayers.h"
#include "kestscenelog.h"
#include "kestscenepictures.h"

#include <QDomElement>
#include <QFile>
#include <QLayout>
#include <QPoint>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QTextStream>
#include <QTouchEvent>
#include <QUrl>
#include <QWidget>
#include <QWindow>

// Resources of a static library are registered by hand, and only from outside any namespace.
static void initSceneResources()
{
    Q_INIT_RESOURCE(scene);
}

namespace {

const QString kSeparator = QStringLiteral(";_;");

QStringList fieldsOf(const QString &payload)
{
    return payload.split(kSeparator);
}

// Every field followed by the separator, the last one included.
QString withTrailingSeparators(const QStringList &fields)
{
    QString text;
    for (const QString &field : fields)
        text += field + kSeparator;
    return text;
}

// Keeps the document's accessActive in step with the platform: its boxes make accessible
// objects (costly in a scene of many) only while an assistive tool listens.
class AccessObserver : public QAccessible::ActivationObserver
{
public:
    explicit AccessObserver(QObject *scene)
        : m_scene(scene)
    {
        QAccessible::installActivationObserver(this);
        accessibilityActiveChanged(QAccessible::isActive());
    }
    ~AccessObserver() override { QAccessible::removeActivationObserver(this); }
    void accessibilityActiveChanged(bool active) override
    {
        if (m_scene)
            m_scene->setProperty("accessActive", active);
    }

private:
    QPointer<QObject> m_scene;
};

// A plain decimal ("12", "-4.5") as a number; anything else as it is, for the document's own
// reading of values (hexadecimal, blanks, words), so that both give the same result.
QVariant numberOrText(const QString &value)
{
    int digits = 0;
    bool point = false;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c.isDigit() && c.unicode() < 128)
            ++digits;
        else if (c == QLatin1Char('.') && !point && digits > 0)
            point = true;
        else if (!(c == QLatin1Char('-') && i == 0))
            return value;
    }
    if (digits == 0 || value.endsWith(QLatin1Char('.')))
        return value;
    // Whole numbers of a few digits, nearly all a course has, are exact as they are added up.
    if (!point && digits <= 15) {
        double whole = 0;
        for (const QChar c : value) {
            if (c != QLatin1Char('-'))
                whole = whole * 10 + (c.unicode() - '0');
        }
        return value.startsWith(QLatin1Char('-')) ? -whole : whole;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? QVariant(number) : QVariant(value);
}

} // namespace

WebView::WebView(const QString &basePath, QWidget *host)
    : m_host(host)
    , m_basePath(basePath)
{
    initSceneResources();
    qCDebug(lcScene).noquote() << QStringLiteral("Init WebView");

    // Paths are joined as base path minus its last character, then "/name": without a
    // trailing separator the join would eat the folder's last letter.
    if (!m_basePath.isEmpty() && !m_basePath.endsWith(QLatin1Char('/')) && !m_basePath.endsWith(QLatin1Char('\\')))
        m_basePath += QLatin1Char('/');

    m_view = new QQuickView;
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->rootContext()->setContextProperty(QStringLiteral("scenePictures"), new kestScenePictures(m_view));
    m_view->rootContext()->setContextProperty(QStringLiteral("sceneLog"), new kestSceneLog(m_view));
    m_view->rootContext()->setContextProperty(QStringLiteral("sceneLayers"), new kestSceneLayers(m_view));
    m_view->setSource(QUrl(QStringLiteral("qrc:/Resources/browser.qml")));
    m_container = QWidget::createWindowContainer(m_view, host);
    m_container->show();
    fitToHost();

    QQuickItem *root = m_view->rootObject();
    if (root && !root->childItems().isEmpty())
        m_sceneItem = root->childItems().first();
    if (!m_sceneItem) {
        qCDebug(lcScene).noquote() << QStringLiteral("browser.qml not found!");
        return;
    }

    m_accessObserver = std::make_unique<AccessObserver>(m_sceneItem);
    connect(m_sceneItem, SIGNAL(finishedReset()), this, SIGNAL(finishedReset()));
    connect(m_sceneItem, SIGNAL(finishedLoading()), this, SLOT(finishedLoading()));
    connect(m_sceneItem, SIGNAL(clickedEntity(QString)), this, SLOT(qmlClickedEntity(QString)));
    connect(m_sceneItem, SIGNAL(hoverEntity(QString)), this, SLOT(qmlHoverEntity(QString)));
    connect(m_sceneItem, SIGNAL(dropEntity(QString, QString)), this, SLOT(qmlDropEntity(QString, QString)));
    connect(m_sceneItem, SIGNAL(finishedAudio(QString)), this, SLOT(finishedAudio(QString)));
    connect(root, SIGNAL(finishedVideo(void)), this, SLOT(finishedVideo(void)));
    connect(m_sceneItem, SIGNAL(announce(QString)), this, SIGNAL(announce(QString)));
    connect(m_sceneItem, SIGNAL(stopReading()), this, SIGNAL(stopReadingRequested()));
    // A learner without a mouse starts in the scene: the keys must reach it without a click.
    m_container->setFocusPolicy(Qt::StrongFocus);
    m_container->setFocus();
    fitToHost();
}

WebView::~WebView()
{
    if (m_host && m_host->layout() && m_container)
        m_host->layout()->removeWidget(m_container);
    // The container owns the embedded view and deletes it with itself.
    delete m_container;
}

QQuickView *WebView::quickView() const
{
    return m_view;
}

QWidget *WebView::container() const
{
    return m_container;
}

QQuickItem *WebView::sceneItem() const
{
    return m_sceneItem;
}

QString WebView::noValue()
{
    return QStringLiteral(";-;-;NoValue;-;-;");
}

const QStringList &WebView::entityAttributeNames()
{
    static const QStringList names {
        QStringLiteral("X"),
        QStringLiteral("Y"),
        QStringLiteral("Z"),
        QStringLiteral("XROT"),
        QStringLiteral("YROT"),
        QStringLiteral("ZROT"),
        QStringLiteral("Width"),
        QStringLiteral("Height"),
        QStringLiteral("Type"),
        QStringLiteral("Name"),
        QStringLiteral("Color"),
        QStringLiteral("Description"),
        QStringLiteral("Depth"),
        QStringLiteral("Filename"),
        QStringLiteral("Subproject"),
        QStringLiteral("DragDrop"),
        QStringLiteral("Text"),
        QStringLiteral("BorderColor"),
        QStringLiteral("BorderSize"),
        QStringLiteral("TextColor"),
        QStringLiteral("TextSize"),
        QStringLiteral("TextBackgroundColor"),
        QStringLiteral("DropRestore"),
    };
    return names;
}

QVariantList WebView::entityOptionList(const QDomElement &element)
{
    const QStringList &names = entityAttributeNames();
    QVariantList options;
    // Sized once: a hundred entities per scene entry would otherwise regrow it a few times each.
    options.reserve(names.size());
    const QString missing = noValue();
    for (const QString &name : names)
        options << element.attribute(name, missing);
    return options;
}

QString WebView::resolvePath(const QString &path) const
{
    QString resolved = path;
    resolved.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!resolved.startsWith(QLatin1Char('/')))
        resolved.prepend(QLatin1Char('/'));
    return m_basePath.left(m_basePath.size() - 1) + resolved;
}

void WebView::setAwaitedProcedure(const QString &name)
{
    m_awaitedProcedure = name;
    m_waitingForProcedure = true;
}

void WebView::callScene(const QString &function, const QVariant &argument)
{
    if (!m_sceneItem || (!m_loaded && m_pendingNames.size() >= MaxPendingCalls)) {
        if (!m_dropWarned) {
            m_dropWarned = true;
            qCWarning(lcScene).noquote() << QStringLiteral("The scene document has not loaded: scene commands are "
                                                           "dropped, the first of them: ")
                    + function;
        }
        return;
    }
    if (!m_loaded) {
        m_pendingNames << function;
        m_pendingArguments << argument;
        return;
    }
    const QByteArray member = function.toUtf8();
    QMetaObject::invokeMethod(m_sceneItem, member.constData(), Qt::AutoConnection, Q_ARG(QVariant, argument));
}

void WebView::fitToHost()
{
    if (!m_host || !m_container)
        return;
    const int w = m_host->width();
    const int h = m_host->height();
    const double ratio = 1.7777777777777777;
    int sceneW = w;
    int sceneH = h;
    if (h <= 0 || double(w) / h > ratio) {
        sceneW = int(h * ratio);
        sceneH = h;
    } else if (double(w) / h < ratio) {
        sceneW = w;
        sceneH = int(w / ratio);
    }
    m_container->setGeometry(w / 2 - sceneW / 2, h / 2 - sceneH / 2, sceneW, sceneH);
}

void WebView::addEntity(const QDomElement &element, bool isMenuEntity, const QString &subprojectKey)
{
    enum { NameSlot = 9, FilenameSlot = 13, SubprojectSlot = 14 };
    const QString missing = noValue();
    QString file = element.attribute(QStringLiteral("Filename"), missing);
    if (file.isEmpty())
        file = element.attribute(QStringLiteral("ImageFilename"), missing);
    if (!file.isEmpty() && file != missing) {
        const QString resolved = resolvePath(file);
        const QString lower = resolved.toLower();
        // Videos and other files are not pictures of an entity.
        const bool picture = lower.endsWith(QLatin1String(".png")) || lower.endsWith(QLatin1String(".jpg"));
        file = picture ? resolved : QString();
    }

    if (isMenuEntity) {
        QVariantList options = entityOptionList(element);
        options[FilenameSlot] = file;
        options[SubprojectSlot] = subprojectKey;
        m_menuEntityNames << options.at(NameSlot).toString();
        callScene(QStringLiteral("createMenuEntity"), options);
        callScene(QStringLiteral("describeEntities"), QVariantList { accessInfo(element, true) });
        return;
    }
    // Only what makes the box, straight from the element: a scene entry reads a hundred. A
    // missing value goes as nothing (undefined to the document, which reads it as missing)
    // rather than as a string made and converted for each entity.
    const auto text = [&element, &missing](const QString &name) {
        const QString value = element.attribute(name, missing);
        return value == missing ? QVariant() : QVariant(value);
    };
    const auto number = [&element, &missing](const QString &name) {
        const QString value = element.attribute(name, missing);
        return value == missing ? QVariant() : numberOrText(value);
    };
    const Access access = accessOf(element);
    m_pendingEntities << element.attribute(QStringLiteral("Name"), missing) << text(QStringLiteral("Color"))
                      << number(QStringLiteral("X")) << number(QStringLiteral("Y")) << number(QStringLiteral("Width"))
                      << number(QStringLiteral("Height")) << number(QStringLiteral("Z")) << file
                      << text(QStringLiteral("Text")) << text(QStringLiteral("TextColor"))
                      << number(QStringLiteral("TextSize")) << text(QStringLiteral("DragDrop"))
                      << text(QStringLiteral("DropRestore")) << (access.alt.isEmpty() ? QVariant() : access.alt)
                      << access.active << access.clickable << access.scripted;
}

QVariantList WebView::pendingEntities() const
{
    QVariantList entities;
    for (int i = 0; i + EntityRecordSize <= m_pendingEntities.size(); i += EntityRecordSize)
        entities << QVariant(m_pendingEntities.mid(i, EntityRecordSize));
    return entities;
}

void WebView::initEntities()
{
    // The document is given the records in one flat list (the order of createEntityFrom in
    // the document): turning 23 strings and a map of each of a hundred entities into script
    // values was a good part of a scene entry.
    const QVariantList records = m_pendingEntities;
    m_pendingEntities.clear();
    callScene(QStringLiteral("batchEntityInit"),
        QVariantMap {
            { QStringLiteral("recordSize"), int(EntityRecordSize) }, { QStringLiteral("records"), records } });
}

WebView::Access WebView::accessOf(const QDomElement &element)
{
    bool clickable = element.attribute(QStringLiteral("DragDrop")) == QLatin1String("True")
        || element.attribute(QStringLiteral("Function")).trimmed().toInt() != 0;
    bool scripted = false;
    for (QDomElement code = element.firstChildElement(QStringLiteral("Code")); !code.isNull();
         code = code.nextSiblingElement(QStringLiteral("Code"))) {
        const QString script = code.firstChild().nodeValue().trimmed();
        if (script == QLatin1String("Script_Click"))
            clickable = true;
        else if (script == QLatin1String("Script_Select") || script == QLatin1String("Script_Release"))
            scripted = true;
    }
    const QString trimmedName = element.attribute(QStringLiteral("Name")).trimmed();
    // The scene handles these two itself, without a script.
    if (trimmedName == QLatin1String("ENTITY_SkipAudio") || trimmedName == QLatin1String("ENTITY_NoSound"))
        clickable = true;
    const bool active
        = element.attribute(QStringLiteral("StateActive"), QStringLiteral("true")).toLower() == QLatin1String("true");
    return Access { element.attribute(QStringLiteral("Alt")), active, clickable, scripted };
}

QVariantMap WebView::accessInfo(const QDomElement &element, bool isMenuEntity)
{
    const Access access = accessOf(element);
    return QVariantMap {
        { QStringLiteral("name"), element.attribute(QStringLiteral("Name")) },
        { QStringLiteral("menu"), isMenuEntity },
        { QStringLiteral("alt"), access.alt },
        { QStringLiteral("active"), access.active },
        { QStringLiteral("clickable"), access.clickable },
        { QStringLiteral("scripted"), access.scripted },
    };
}

void WebView::moveEntity(const QString &payload)
{
    callScene(QStringLiteral("move3DEntity"), payload);
}

void WebView::changeEntity(const QString &payload)
{
    QStringList fields = fieldsOf(payload);
    if (fields.size() < 3) {
        qCWarning(lcScene).noquote() << QStringLiteral("changeEntity needs a name, an attribute and a value: ")
                + payload;
        return;
    }
    const QString attribute = fields.at(1).toLower();
    if (attribute == QLatin1String("filename") || attribute == QLatin1String("imagefilename")) {
        fields[2] = resolvePath(fields.at(2));
        fields[1] = QStringLiteral("filename");
    }
    const QString function = m_menuEntityNames.contains(fields.at(0)) ? QStringLiteral("changeMenuEntity")
                                                                      : QStringLiteral("changeEntity");
    callScene(function, withTrailingSeparators(fields));
}

void WebView::playVideo(const QString &payload)
{
    QStringList fields = fieldsOf(payload);
    fields[0] = resolvePath(fields.at(0));
    qCDebug(lcScene).noquote() << QStringLiteral("Path: ") + fields.at(0);
    callScene(QStringLiteral("beginVideo"), withTrailingSeparators(fields));
}

void WebView::playAudio(const QString &payload)
{
    callScene(QStringLiteral("beginAudio"), payload);
}

void WebView::stopMedia()
{
    callScene(QStringLiteral("stopMedia"), QString());
}

void WebView::stopSpecificMedia(const QString &payload)
{
    callScene(QStringLiteral("stopSpecificMedia"), payload);
}

void WebView::pngAnimate(const QString &payload)
{
    const QStringList fields = fieldsOf(payload);
    if (fields.size() < 4) {
        qCWarning(lcScene).noquote() << QStringLiteral("pngAnimate needs four fields: ") + payload;
        return;
    }
    QStringList frames;
    QFile file(resolvePath(fields.at(2)));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        while (!stream.atEnd()) {
            QString line = stream.readLine();
            line.replace(QLatin1String("\\\\"), QLatin1String("/"));
            line.replace(QLatin1Char('\\'), QLatin1Char('/'));
            if (line.trimmed().isEmpty())
                break;
            for (const QString &part : line.split(QLatin1Char(','))) {
                const QString name = part.trimmed();
                if (!name.isEmpty())
                    frames << resolvePath(name);
            }
        }
    } else {
        qCWarning(lcScene).noquote() << QStringLiteral("Cannot open frame list ") + file.fileName();
    }
    const QStringList sent { fields.at(0), fields.at(1), frames.join(QLatin1Char(',')), fields.at(3) };
    callScene(QStringLiteral("pngAnimate"), sent.join(kSeparator));
}

void WebView::stopPngAnimation(const QString &payload)
{
    callScene(QStringLiteral("stopPNGAnimation"), payload);
}

void WebView::shufflePosition(const QString &payload)
{
    callScene(QStringLiteral("shufflePosition"), payload);
}

void WebView::setClearColor(const QString &payload)
{
    callScene(QStringLiteral("setClearColor"), payload.isEmpty() ? QStringLiteral("0x000000") : payload);
}

void WebView::createBubble(const QString &payload)
{
    callScene(QStringLiteral("createBubble"), payload);
}

void WebView::activateImageBorder(const QString &payload)
{
    const QString argument
        = payload == QLatin1String("space") ? payload : QStringLiteral("file:///") + resolvePath(payload);
    callScene(QStringLiteral("activateSceneBorder"), argument);
}

void WebView::showTextfile(const QString &payload)
{
    const QStringList fields = fieldsOf(payload);
    if (fields.size() < 2) {
        qCWarning(lcScene).noquote() << QStringLiteral("showTextfile needs a title and a file: ") + payload;
        return;
    }
    QString title = fields.at(0);
    QString fileName = fields.at(1);
    if (fileName.isEmpty()) {
        fileName = title;
        title = QStringLiteral("Info:");
    }
    QFile file(resolvePath(fileName));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCWarning(lcScene).noquote() << QStringLiteral("Cannot open text file ") + file.fileName();
        return;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    QString text;
    while (!stream.atEnd())
        text += stream.readLine() + QLatin1Char('\n');
    callScene(QStringLiteral("showHelpSite"), title + kSeparator + text);
}

void WebView::ignoreUserinput(const QString &payload)
{
    callScene(QStringLiteral("ignoreUserinput"), payload);
}

void WebView::createVideoPlayer(const QString &payload)
{
    callScene(QStringLiteral("createVideoPlayer"), payload);
}

void WebView::videoPlayerAction(const QString &payload)
{
    QStringList fields = fieldsOf(payload);
    if (fields.size() < 2) {
        qCWarning(lcScene).noquote() << QStringLiteral("videoPlayerAction needs a keyword and an entity: ") + payload;
        return;
    }
    if (fields.size() > 2) {
        fields[2] = resolvePath(fields.at(2));
        qCDebug(lcScene).noquote() << QStringLiteral(" video Path: ") + fields.at(2);
    }
    const QString argument = withTrailingSeparators(fields);
    qCDebug(lcScene).noquote() << QStringLiteral("Got till here");
    callScene(QStringLiteral("actionVideoPlayer"), argument);
}

void WebView::restoreEntityPos(const QString &payload)
{
    callScene(QStringLiteral("restoreEntityPos"), payload);
}

void WebView::animate(const QString &payload)
{
    callScene(QStringLiteral("animate"), payload);
}

void WebView::toggleMute()
{
    m_muted = !m_muted;
    callScene(QStringLiteral("muteAudio"), m_muted);
}

void WebView::setPaused()
{
    callScene(QStringLiteral("paused"), false);
}

void WebView::projectReset()
{
    qCDebug(lcScene).noquote() << QStringLiteral("---------PROJECT RESET");
    m_menuEntityNames.clear();
    // Entities collected for a scene that was never finished must not turn up in the next one.
    m_pendingEntities.clear();
    callScene(QStringLiteral("projectReset"), QStringLiteral("Hallo"));
}

void WebView::subprojectReset()
{
    qCDebug(lcScene).noquote() << QStringLiteral("---------SUBPROJECT RESET");
    m_pendingEntities.clear();
    callScene(QStringLiteral("subprojectReset"), QStringLiteral("Hallo"));
}

void WebView::resetWorkDone()
{
    callScene(QStringLiteral("resetWorkDone"), QString());
}

void WebView::sendTouch(const QPoint &scenePoint, bool down)
{
    const QVariantList point { scenePoint.x(), scenePoint.y() };
    callScene(down ? QStringLiteral("receivedTouchEvent") : QStringLiteral("receivedTouchEventUp"), point);
}

void WebView::sendTouchMove(const QPoint &scenePoint)
{
    const QVariantList point { scenePoint.x(), scenePoint.y() };
    callScene(QStringLiteral("receivedTouchMoveEvent"), point);
}

QPoint WebView::touchToScene(const QSize &window, const QSize &container, const QPointF &position, bool logOffsets)
{
    const int offX = (window.width() - container.width()) / 2;
    const int offY = (window.height() - container.height()) / 2;
    if (logOffsets)
        qCDebug(lcScene).noquote() << QStringLiteral("VerschX: ") + QString::number(offX)
                + QStringLiteral(" and VerschY: ") + QString::number(offY);
    // Whole multiples only, as the scene expects; an empty container counts as the window.
    const int scaleX = container.width() > 0 ? qMax(1, window.width() / container.width()) : 1;
    const int scaleY = container.height() > 0 ? qMax(1, window.height() / container.height()) : 1;
    return QPoint(scaleX * int(position.x() - offX), scaleY * int(position.y() - offY));
}

void WebView::sendTouch(QTouchEvent *event, bool down)
{
    if (event->touchPoints().isEmpty() || !m_container)
        return;
    const QSize window = event->window() ? event->window()->size() : m_host->size();
    sendTouch(touchToScene(window, m_container->size(), event->touchPoints().first().pos(), true), down);
}

void WebView::sendTouchMove(QTouchEvent *event)
{
    if (event->touchPoints().isEmpty() || !m_container)
        return;
    const QSize window = event->window() ? event->window()->size() : m_host->size();
    sendTouchMove(touchToScene(window, m_container->size(), event->touchPoints().first().pos(), false));
}

void WebView::finishedLoading()
{
    m_loaded = true;
    while (!m_pendingNames.isEmpty()) {
        const QString name = m_pendingNames.takeFirst();
        const QVariant argument = m_pendingArguments.takeFirst();
        callScene(name, argument);
    }
    emit finishedLoad();
    fitToHost();
}

void WebView::finishedVideo()
{
    emit finishedVideoSignal();
}

void WebView::finishedAudio(QString name)
{
    qCDebug(lcScene).noquote() << QStringLiteral("Finished Audio!");
    emit finishedAudioSignal(name);
}

void WebView::qmlClickedEntity(QString name)
{
    emit clickedEntity(name, true);
}

void WebView::qmlHoverEntity(QString name)
{
    emit hoverEntity(name, true);
}

void WebView::qmlDropEntity(QString dropped, QString target)
{
    emit dropEntity(dropped, target, true);
}

void WebView::endPause()
{
    qCDebug(lcScene).noquote() << QStringLiteral("Okay paused: ") + QStringLiteral("false");
    setPaused();
}

void WebView::procedureFinished(QString name)
{
    if (name == m_awaitedProcedure)
        m_waitingForProcedure = false;
}
