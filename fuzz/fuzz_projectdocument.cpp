// SPDX-License-Identifier: GPL-3.0-or-later
// A project document as a course server may send it: read as the project and its scenes read it,
// and every script in it built into an action tree as a worker thread would build it.
#include "actionregistry.h"
#include "fuzzsupport.h"
#include "kestobject.h"
#include "projectdocument.h"
#include "scriptbuilder.h"
#include "variablestore.h"

#include <memory>

namespace {

void build(const QDomElement &code, bool logTagNames = false)
{
    if (code.isNull())
        return;
    std::unique_ptr<kestObject> root(kestScriptBuilder::buildScript(code, logTagNames));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    kestFuzz::initialise(argc, argv);
    kestRegisterActions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = kestFuzz::scratchFolder() + QStringLiteral("/tavelo.avx");
    kestFuzz::writeFile(path, QByteArray(reinterpret_cast<const char *>(data), int(size)));

    QDomDocument doc;
    if (!kestDocument::load(path, doc))
        return 0;
    const kestDocument::ProjectOutline outline = kestDocument::readProject(doc);
    for (const kestDocument::SubProjectEntry &entry : outline.subProjects) {
        kestDocument::readSubProjectAttributes(entry.element);
        const kestDocument::SubProjectContent content = kestDocument::readSubProjectContent(entry.element);
        // Procedures are fetched by name with their tag names logged; other scripts silently.
        const bool procedures = entry.kind == kestDocument::SubProjectKind::Procedure;
        for (const QDomElement &code : content.fixedScripts)
            build(code);
        for (const QDomElement &code : content.namedScripts)
            build(code, procedures);
        for (const QDomElement &element : content.entities) {
            const kestDocument::EntityData entity = kestDocument::readEntity(element, kestVariables::resolveValue);
            build(entity.clickScript);
            build(entity.selectScript);
            build(entity.releaseScript);
        }
    }
    return 0;
}
