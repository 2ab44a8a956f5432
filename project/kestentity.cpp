// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestentity.h"

#include "kestbranchmanager.h"
#include "kestlog.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "projectdocument.h"
#include "variablestore.h"
#include "webview.h"

#include <atomic>

namespace {
std::atomic<int> s_entityCounter { 0 };
}

kestEntity::kestEntity(kestSubProject *owner)
    : QObject(owner)
    , m_subProject(owner)
{ }

kestEntity::~kestEntity()
{
    // Branches of this entity's scripts may still be finishing on their threads.
    kestBranchManager::detachOwner(this);
}

int kestEntity::nextId()
{
    return s_entityCounter++;
}

void kestEntity::load(const QDomElement &element)
{
    // Shared, not copied: nothing changes a loaded project document, and the project keeps it
    // alive for as long as its scenes and their entities.
    m_element = element;
    const kestDocument::EntityData data = kestDocument::readEntity(element, &kestVariables::resolveValue);
    m_effect = data.effect;
    m_filename = data.filename;
    m_name = data.name;
    m_function = data.function;
    m_active = data.stateActive;
    m_dragDrop = data.dragDrop;
    m_text = data.text;
    m_descriptionColor = data.descriptionColor;
    m_descriptionSize = data.descriptionSize;
    const auto manager = [this](const QDomElement &code, const char *name) -> kestBranchManager * {
        return code.isNull() ? nullptr : new kestBranchManager(this, code, QLatin1String(name));
    };
    m_click = manager(data.clickScript, "Script_Click");
    m_select = manager(data.selectScript, "Script_Select");
    m_release = manager(data.releaseScript, "Script_Release");
}

void kestEntity::handleResults(QString value)
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("Entity HandleResults: ") + value;
}

void kestEntity::kestRun()
{
    runClick(false);
}

void kestEntity::kestRun_MenuEntSpecial()
{
    runClick(true);
}

void kestEntity::runClick(bool menuSpecial)
{
    if (!m_active)
        return;
    if (m_function != 0) {
        if (kestProject *project = m_subProject->project())
            project->runScriptSlot(m_function);
        return;
    }
    if (m_click)
        m_click->run(menuSpecial ? PROCEDURE : CLICK);
}

void kestEntity::runSelect()
{
    if (m_active && m_select)
        m_select->run(SELECT);
}

void kestEntity::runRelease()
{
    if (m_active && m_release)
        m_release->run(CLICK);
}

void kestEntity::setKestTouch(bool touch, bool sendEvend)
{
    if (sendEvend) {
        if (touch && !m_touched) {
            qCDebug(lcRuntime).noquote() << QStringLiteral("Enter ") + m_name;
            runSelect();
        } else if (!touch && m_touched) {
            qCDebug(lcRuntime).noquote() << QStringLiteral("leave ") + m_name;
            runRelease();
        }
        qCDebug(lcRuntime).noquote() << QStringLiteral("setKestTouch end ") + m_name;
    }
    m_touched = touch;
}

void kestEntity::setImage(QImage *image)
{
    m_image = image ? *image : QImage();
}

void kestEntity::touchEntity(int id)
{
    if (id == m_id)
        runSelect();
}

void kestEntity::drawOnWv()
{
    if (!m_webView)
        return;
    const QString key = m_subProject->menuBarPlacement() + QLatin1Char(':') + QString::number(m_subProject->width());
    m_webView->addEntity(m_element, m_subProject->isMenuBar(), key);
}
