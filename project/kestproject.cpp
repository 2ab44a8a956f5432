// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestproject.h"

#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestclock.h"
#include "kestlog.h"
#include "kestobject.h"
#include "kestpaths.h"
#include "kestsubproject.h"
#include "prio.h"
#include "projectdocument.h"
#include "variablestore.h"
#include "webview.h"

#include <QDateTime>
#include <QFile>
#include <QMainWindow>

using kestVariables::assignVariable;

kestProject::kestProject(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    if (kestApplication *app = kestApplication::instance()) {
        connect(this, &kestProject::readText, app, &kestApplication::kestReadText);
        app->setProcedureSource([this](const QString &name) { return getProcedure(name); });
    }
    kestVariables::setSubProjectNameProvider([this] { return currentSubProjectName(); });
}

kestProject::~kestProject()
{
    // Worker threads must not reach into a project that is going away.
    if (kestApplication *app = kestApplication::instance())
        app->setProcedureSource({});
    kestVariables::setSubProjectNameProvider({});
    resetProject();
    m_webView.reset();
}

QWidget *kestProject::hostWidget() const
{
    if (auto *mainWindow = qobject_cast<QMainWindow *>(m_window)) {
        if (mainWindow->centralWidget())
            return mainWindow->centralWidget();
    }
    return m_window;
}

bool kestProject::loadProject(const QString &path)
{
    if (!QFile::exists(path)) {
        qCWarning(lcRuntime).noquote() << QStringLiteral("Project document not found: ") + path;
        emit readText(QStringLiteral("Error! ") + path);
        return false;
    }
    // Read before anything is torn down: a document that does not load leaves the course running.
    QDomDocument document;
    if (!kestDocument::load(path, document))
        return false;
    resetProject();

    if (m_webView) {
        m_webView->projectReset();
    } else {
        kestApplication *app = kestApplication::instance();
        m_webView = std::make_unique<WebView>(app ? app->projectPath() : QString(), hostWidget());
    }

    const kestDocument::ProjectOutline outline = kestDocument::readProject(document);
    {
        QWriteLocker locker(&m_tablesLock);
        m_document = document;
        m_width = outline.width;
        m_height = outline.height;
    }
    for (const kestDocument::SubProjectEntry &entry : outline.subProjects) {
        auto *sub = new kestSubProject(this, entry.name);
        sub->setElement(entry.element);
        switch (entry.kind) {
        case kestDocument::SubProjectKind::Procedure: {
            QWriteLocker locker(&m_tablesLock);
            sub->build();
            m_procedures.append(sub);
            break;
        }
        case kestDocument::SubProjectKind::MenuBar:
            m_webView->setSceneName(entry.name);
            {
                QWriteLocker locker(&m_tablesLock);
                sub->build();
                m_menuBars.append(sub);
            }
            sub->activate(true);
            break;
        case kestDocument::SubProjectKind::Ordinary: {
            QWriteLocker locker(&m_tablesLock);
            m_subProjects.append(sub);
            break;
        }
        }
    }

    // Indices of the former course mean nothing in this one.
    m_history = { 0 };
    setCurrent(0);
    enterSubProject(0);
    m_webView->setClearColor(kestVariables::resolveValue(QStringLiteral("Backgroundcolor")));
    m_webView->fitToHost();
    return true;
}

void kestProject::resetProject()
{
    QList<kestSubProject *> doomed;
    {
        QWriteLocker locker(&m_tablesLock);
        doomed = m_subProjects + m_menuBars + m_procedures;
        m_subProjects.clear();
        m_menuBars.clear();
        m_procedures.clear();
        // Deleted under the lock: a worker may be building a procedure tree from their scripts.
        qDeleteAll(doomed);
        m_document = QDomDocument();
        m_current = 0;
        m_previous = 0;
    }
}

void kestProject::setCurrent(int index)
{
    QWriteLocker locker(&m_tablesLock);
    m_current = index;
}

kestSubProject *kestProject::currentSubProject() const
{
    return m_current >= 0 && m_current < m_subProjects.size() ? m_subProjects.at(m_current) : nullptr;
}

QString kestProject::currentSubProjectName() const
{
    QReadLocker locker(&m_tablesLock);
    const kestSubProject *sub = currentSubProject();
    return sub ? sub->name() : QString();
}

void kestProject::enterSubProject(int index)
{
    assignVariable(QStringLiteral("%RETURN"), QString::number(m_previous));
    const int last = m_subProjects.size() - 1;
    for (int i = 0; i < m_subProjects.size(); ++i) {
        kestSubProject *sub = m_subProjects.at(i);
        if (i != index) {
            {
                QWriteLocker locker(&m_tablesLock);
                sub->activate(false);
            }
            if (m_webView)
                m_webView->disconnect(sub);
            continue;
        }
        assignVariable(QStringLiteral("%REPEAT"), QString::number(i));
        assignVariable(QStringLiteral("%NEXT"), QString::number(qMin(i + 1, last)));
        assignVariable(QStringLiteral("%PREVIOUS"), QString::number(qMax(i - 1, 0)));
        if (m_webView)
            m_webView->subprojectReset();
        qCDebug(lcRuntime).noquote() << QStringLiteral("Load XML subProject");
        {
            QWriteLocker locker(&m_tablesLock);
            sub->build();
        }
        if (m_webView && m_previous >= 0 && m_previous < m_subProjects.size())
            m_webView->disconnect(m_subProjects.at(m_previous));
        {
            QWriteLocker locker(&m_tablesLock);
            m_previous = i;
            m_current = i;
        }
        sub->activate(true);
        if (m_webView) {
            connect(m_webView.get(), &WebView::clickedEntity, sub, &kestSubProject::wglClickedEntity);
            connect(m_webView.get(), &WebView::hoverEntity, sub, &kestSubProject::wglHoverEntity);
            connect(m_webView.get(), &WebView::dropEntity, sub, &kestSubProject::wglDropEntity);
            connect(m_webView.get(), &WebView::finishedVideoSignal, sub, &kestSubProject::finishedVideo);
            connect(m_webView.get(), &WebView::finishedAudioSignal, sub, &kestSubProject::finishedAudio);
            m_webView->resetWorkDone();
        }
        if (kestBranchManager *main = sub->fixedSlot(0))
            main->run(CLICK);
    }
}

void kestProject::gotoSubProject(const QString &target)
{
    const qint64 now = kestClock::now();
    if (now - m_lastSwitch < 100)
        return;
    m_lastSwitch = now;
    qCDebug(lcRuntime).noquote() << QStringLiteral("gotoSubProject: ") + target;

    if (target.contains(QLatin1String("%NEXT"))) {
        if (m_current < m_subProjects.size() - 1) {
            m_previous = m_current;
            setCurrent(m_current + 1);
            enterSubProject(m_current);
            m_history.append(m_current);
        }
    } else if (target.contains(QLatin1String("%PREVIOUS"))) {
        goBack();
    } else if (target.contains(QLatin1String("%RETURN"))) {
        // Recorded in the variable "%RETURN" for scripts; no switch of its own.
    } else if (target.contains(QLatin1String("%REPEAT"))) {
        enterSubProject(m_current);
    } else {
        for (int i = 0; i < m_subProjects.size(); ++i) {
            if (m_subProjects.at(i)->name() != target)
                continue;
            qCDebug(lcRuntime).noquote() << QStringLiteral("Subproject ") + target + QStringLiteral(" found at ")
                    + QString::number(i);
            setCurrent(i);
            enterSubProject(i);
            m_history.append(i);
        }
    }
}

void kestProject::goBack()
{
    if (m_history.size() < 2)
        return;
    m_history.removeLast();
    setCurrent(m_history.last());
    enterSubProject(m_current);
}

bool kestProject::callProcedure(const QString &name)
{
    if (kestSubProject *sub = currentSubProject()) {
        if (sub->callProcedure(name))
            return true;
    }
    const QString trimmed = name.trimmed();
    for (kestSubProject *library : qAsConst(m_procedures)) {
        if (library->callProcedure(trimmed))
            return true;
    }
    qCDebug(lcRuntime).noquote() << QStringLiteral("Call Procedure ") + name + QStringLiteral(" not found!");
    return false;
}

std::unique_ptr<kestObject> kestProject::getProcedure(const QString &name) const
{
    QReadLocker locker(&m_tablesLock);
    if (const kestSubProject *sub = currentSubProject()) {
        if (sub->hasNamedScript(name))
            return sub->getProcedure(name);
    }
    const QString trimmed = name.trimmed();
    for (const kestSubProject *library : m_procedures) {
        if (library->hasNamedScript(trimmed))
            return library->getProcedure(trimmed);
    }
    qCDebug(lcRuntime).noquote() << QStringLiteral("Cannot find Procedure ") + name
            + QStringLiteral(" 's information!");
    return nullptr;
}

void kestProject::runScriptSlot(int slot)
{
    if (kestSubProject *sub = currentSubProject())
        sub->runFixedSlot(slot);
}

void kestProject::loadGlobalSettings()
{
    const struct
    {
        const char *group;
        const char *key;
    } keys[] = { { "Color", "Entitycolor" }, { "Color", "Backgroundcolor" }, { "User", "defaultLoadCourse" },
        { "User", "defaultLoadCoursePath" } };
    for (const auto &k : keys) {
        const QString value = kestPaths::readSetting(QLatin1String(k.group), QLatin1String(k.key));
        if (!value.isEmpty() && value != QLatin1String("notdefined"))
            assignVariable(QLatin1String(k.key), value);
    }
}

void kestProject::loadExternVariables(const QString &path)
{
    kestVariables::setExternVariablePath(path);
    const QString accepted = kestVariables::externVariablePath();
    if (!accepted.isEmpty())
        kestVariables::assignIniSection(accepted, QStringLiteral("Global"));
}
