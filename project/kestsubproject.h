// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectdocument.h"

#include <QDomElement>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <array>
#include <memory>

class kestBranchManager;
class kestEntity;
class kestObject;
class kestProject;

// One scene of a course: its entities and scripts, built from a SubProject element. Turns the
// scene's clicks, hovers and drops into script runs. Lives on the GUI thread; the project owns it.
class kestSubProject : public QObject
{
    Q_OBJECT
public:
    kestSubProject(kestProject *project, const QString &name);
    ~kestSubProject() override;

    void setElement(const QDomElement &element) { m_element = element; }
    QDomElement element() const { return m_element; }
    kestProject *project() const { return m_project; }

    // MenuBar present and not "none" (read by the build).
    bool isMenuBar() const { return m_attributes.isMenuBar; }
    bool isProcedureContainer() const;

    // (Re)builds scripts and entities from the element; an earlier build is discarded.
    void build();
    bool isBuilt() const { return m_built; }
    // true: has the scene create every entity (in name order) in one batch. false: the scene was
    // left; its entities and scripts are given back (the next entry builds them anew) and the
    // project clears the scene. Call false under the project's table lock.
    void activate(bool active);

    QString name() const { return m_name; }
    int width() const { return m_attributes.width; }
    int height() const { return m_attributes.height; }
    int x() const { return m_attributes.x; }
    int y() const { return m_attributes.y; }
    QString overlay() const { return m_attributes.overlay; }
    bool keepAspectRatio() const { return m_attributes.keepAspectRatio; }
    QString menuBarPlacement() const { return m_attributes.menuBarPlacement; }
    int entityCount() const { return m_entityCount; }
    int type() const { return m_type; }
    int velocity() const { return m_velocity; }

    kestEntity *entity(const QString &name) const { return m_entities.value(name); }
    QList<kestEntity *> entities() const { return m_entities.values(); }
    kestBranchManager *fixedSlot(int slot) const;
    bool hasNamedScript(const QString &name) const { return m_namedScripts.contains(name); }

    // Runs the named script at PROCEDURE priority; false when there is none.
    bool callProcedure(const QString &name);
    // A fresh tree of the named script for a calling action; nullptr when there is none. Called
    // on worker threads: the project holds its tables' read lock around it.
    std::unique_ptr<kestObject> getProcedure(const QString &name) const;
    // Runs fixed slot 0..14 at PROCEDURE priority, when it has a script.
    void runFixedSlot(int slot);
    // Sets the active flag of the named entity here, else (searchMenuBars) in the menu bars.
    void setEntityActive(const QString &name, const QString &value, bool searchMenuBars);

public slots:
    void handleResults(QString value);
    void wglClickedEntity(QString name, bool searchMenuBars);
    void wglHoverEntity(QString name, bool searchMenuBars);
    void wglDropEntity(QString dragged, QString target, bool searchMenuBars);
    void fireSingleOrDoubleClick();
    void finishedVideo();
    void finishedAudio(QString name);

private:
    void clear();
    QList<kestSubProject *> menuBars() const;

    kestProject *m_project;
    QString m_name;
    QMap<QString, kestBranchManager *> m_namedScripts;
    kestDocument::SubProjectAttributes m_attributes;
    int m_entityCount = 0;
    int m_type = 0;
    int m_velocity = 0;
    QDomElement m_element;
    bool m_built = false;
    QMutex m_pendingClicksLock;
    QStringList m_pendingClicks;
    std::array<kestBranchManager *, kestDocument::FixedSlotCount> m_fixedSlots {};
    QMap<QString, kestEntity *> m_entities;
};
