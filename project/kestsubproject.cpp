// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestsubproject.h"

#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestentity.h"
#include "kestlog.h"
#include "kestobject.h"
#include "kestproject.h"
#include "prio.h"
#include "variablestore.h"
#include "webview.h"

kestSubProject::kestSubProject(kestProject *project, const QString &name)
    : QObject(project)
    , m_project(project)
    , m_name(name)
{ }

kestSubProject::~kestSubProject()
{
    // A procedure of this scene may still be running and about to report its end here.
    kestBranchManager::detachOwner(this);
}

bool kestSubProject::isProcedureContainer() const
{
    return kestDocument::isProcedureContainer(m_element);
}

void kestSubProject::clear()
{
    for (kestBranchManager *&manager : m_fixedSlots) {
        delete manager;
        manager = nullptr;
    }
    qDeleteAll(m_entities);
    m_entities.clear();
    qDeleteAll(m_namedScripts);
    m_namedScripts.clear();
}

void kestSubProject::build()
{
    if (m_built)
        clear();
    m_attributes = kestDocument::readSubProjectAttributes(m_element);
    WebView *bridge = m_project ? m_project->webView() : nullptr;

    const kestDocument::SubProjectContent content = kestDocument::readSubProjectContent(m_element);
    // An empty Name element keeps the name read before it (the leading text): the scene must stay
    // reachable by name.
    if (content.hasNameElement && !content.name.isEmpty()) {
        m_name = content.name;
        if (bridge)
            bridge->setSceneName(m_name);
    }
    m_entityCount = content.entityCount;
    m_type = content.type;
    m_velocity = content.velocity;

    for (const QDomElement &element : content.entities) {
        auto *entity = new kestEntity(this);
        entity->load(element);
        entity->setID(kestEntity::nextId());
        entity->setWebView(bridge);
        qCDebug(lcRuntime).noquote() << QStringLiteral("Created Entity with name: ") + entity->name();
        // A later entity of the same name takes the place of the earlier one.
        kestEntity *&slot = m_entities[entity->name()];
        delete slot;
        slot = entity;
    }
    for (int slot = 0; slot < kestDocument::FixedSlotCount; ++slot) {
        const QDomElement &code = content.fixedScripts[size_t(slot)];
        if (!code.isNull())
            m_fixedSlots[size_t(slot)] = new kestBranchManager(this, code, kestDocument::scriptName(code));
    }
    for (auto it = content.namedScripts.cbegin(); it != content.namedScripts.cend(); ++it)
        m_namedScripts.insert(it.key(), new kestBranchManager(this, it.value(), it.key()));
    m_built = true;
}

void kestSubProject::activate(bool active)
{
    if (!active) {
        // Every entry builds anew, so what a left scene holds would only pile up scene after
        // scene. Branches still running end on their own, as with a rebuild.
        if (m_built && !isMenuBar()) {
            clear();
            m_built = false;
        }
        return;
    }
    for (kestEntity *entity : qAsConst(m_entities))
        entity->drawOnWv();
    if (WebView *bridge = m_project ? m_project->webView() : nullptr)
        bridge->initEntities();
}

kestBranchManager *kestSubProject::fixedSlot(int slot) const
{
    return slot >= 0 && slot < kestDocument::FixedSlotCount ? m_fixedSlots[size_t(slot)] : nullptr;
}

bool kestSubProject::callProcedure(const QString &name)
{
    kestBranchManager *manager = m_namedScripts.value(name);
    if (!manager)
        return false;
    qCDebug(lcRuntime).noquote() << QStringLiteral("callProcedure: ") + name;
    manager->run(PROCEDURE);
    return true;
}

std::unique_ptr<kestObject> kestSubProject::getProcedure(const QString &name) const
{
    kestBranchManager *manager = m_namedScripts.value(name);
    return manager ? manager->buildTree() : nullptr;
}

void kestSubProject::runFixedSlot(int slot)
{
    if (kestBranchManager *manager = fixedSlot(slot))
        manager->run(PROCEDURE);
}

void kestSubProject::setEntityActive(const QString &name, const QString &value, bool searchMenuBars)
{
    if (kestEntity *target = m_entities.value(name)) {
        target->setActive(value.toLower() == QLatin1String("true"));
        return;
    }
    if (!searchMenuBars)
        return;
    for (kestSubProject *menuBar : menuBars())
        menuBar->setEntityActive(name, value, false);
}

QList<kestSubProject *> kestSubProject::menuBars() const
{
    return m_project ? m_project->menuBarSubProjects() : QList<kestSubProject *>();
}

void kestSubProject::handleResults(QString value)
{
    // Runs on the worker thread of the finishing branch.
    qCDebug(lcRuntime).noquote() << QStringLiteral("Subproject handle result: ") + value;
    if (kestApplication *app = kestApplication::instance())
        app->kestProcedureFinished(value);
}

void kestSubProject::wglClickedEntity(QString name, bool searchMenuBars)
{
    if (name == QLatin1String("ENTITY_NoSound")) {
        if (WebView *bridge = m_project ? m_project->webView() : nullptr)
            bridge->toggleMute();
        return;
    }
    qCDebug(lcRuntime).noquote() << QStringLiteral("CLicked call: ") + name;
    if (kestEntity *target = m_entities.value(name)) {
        target->kestRun();
        return;
    }
    if (!searchMenuBars)
        return;
    for (kestSubProject *menuBar : menuBars())
        menuBar->wglClickedEntity(name, false);
}

void kestSubProject::wglHoverEntity(QString name, bool searchMenuBars)
{
    if (kestEntity *target = m_entities.value(name)) {
        qCDebug(lcRuntime).noquote() << QStringLiteral("Hovering: ") + name;
        target->runSelect();
        return;
    }
    if (!searchMenuBars)
        return;
    for (kestSubProject *menuBar : menuBars())
        menuBar->wglHoverEntity(name, false);
}

void kestSubProject::wglDropEntity(QString dragged, QString target, bool searchMenuBars)
{
    kestVariables::assignVariable(QStringLiteral("$drag"), dragged);
    if (kestEntity *dropTarget = m_entities.value(target)) {
        qCDebug(lcRuntime).noquote() << QStringLiteral("Hovering: ") + dragged;
        dropTarget->runRelease();
        return;
    }
    if (!searchMenuBars)
        return;
    for (kestSubProject *menuBar : menuBars())
        menuBar->wglDropEntity(dragged, target, false);
}

void kestSubProject::fireSingleOrDoubleClick()
{
    QMutexLocker locker(&m_pendingClicksLock);
    if (!m_pendingClicks.isEmpty()) {
        if (kestEntity *target = m_entities.value(m_pendingClicks.first()))
            target->kestRun();
    }
    m_pendingClicks.clear();
}

void kestSubProject::finishedVideo()
{
    if (kestApplication *app = kestApplication::instance())
        emit app->stopVideoSignal();
}

void kestSubProject::finishedAudio(QString name)
{
    if (kestApplication *app = kestApplication::instance())
        emit app->stopAudioSignal(name);
}
