// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"

#include "controlflow.h"
#include "inertactions.h"
#include "sceneactions.h"
#include "scriptbuilder.h"
#include "soundactions.h"
#include "systemactions.h"
#include "valueactions.h"
#include "variableactions.h"

#include <mutex>

namespace {

struct ActionEntry
{
    const char *name;
    kestScriptBuilder::Factory factory;
    kestActionArguments arguments;
};

template <typename T> kestObject *make()
{
    return new T;
}

#define KEST_ACTION(Class, least, most)                                                                                \
    {                                                                                                                  \
#Class, &make < Class>,                                                                                        \
        {                                                                                                              \
            least, most                                                                                                \
        }                                                                                                              \
    }
constexpr int Any = kestActionArguments::Unbounded;

// Every action type with the number of child actions it reads, in the order of the format's type
// table. Both the builder's registry and the course checker read this one table. Types without
// behaviour take any children (they are built and never run).
const ActionEntry kActions[] = {
    KEST_ACTION(ActionList, 0, Any),
    KEST_ACTION(ActionResult, 0, Any),
    KEST_ACTION(AddNum, 0, Any),
    KEST_ACTION(AddObject, 0, Any),
    KEST_ACTION(AppendText, 0, Any),
    KEST_ACTION(Batch, 0, Any),
    KEST_ACTION(Boolean, 0, 0),
    KEST_ACTION(CallProcedure, 1, 1),
    KEST_ACTION(ChangeLevel, 1, 1),
    KEST_ACTION(ChangeProject, 1, 1),
    KEST_ACTION(CloseApp, 0, 0),
    KEST_ACTION(ContainerShortcut, 0, Any),
    KEST_ACTION(CopyText, 0, Any),
    KEST_ACTION(CreateDirectory, 0, Any),
    KEST_ACTION(DataSet, 0, Any),
    KEST_ACTION(DeleteDirectory, 0, Any),
    KEST_ACTION(DeleteFile, 0, Any),
    KEST_ACTION(DirectoryInfo, 0, Any),
    KEST_ACTION(DivideNum, 0, Any),
    KEST_ACTION(Exit, 0, 0),
    KEST_ACTION(File, 0, Any),
    KEST_ACTION(FileInfo, 0, Any),
    KEST_ACTION(FileStream, 0, Any),
    KEST_ACTION(ForLoop, 4, 5),
    KEST_ACTION(GetValue, 1, 1),
    KEST_ACTION(GetIniValue, 2, 2),
    KEST_ACTION(If, 2, 3),
    KEST_ACTION(IfEqual, 3, 4),
    KEST_ACTION(IfHigher, 3, 4),
    KEST_ACTION(IfLower, 3, 4),
    KEST_ACTION(IfNot, 3, 4),
    KEST_ACTION(LoadFile, 2, 2),
    KEST_ACTION(Log, 0, Any),
    KEST_ACTION(Memory, 0, Any),
    KEST_ACTION(MemoryAction, 0, Any),
    KEST_ACTION(MemoryStream, 0, Any),
    KEST_ACTION(MoveEntity, 5, 5),
    KEST_ACTION(MultiplyNum, 0, Any),
    KEST_ACTION(Null, 0, Any),
    KEST_ACTION(Number, 0, 0),
    KEST_ACTION(NumberFromText, 0, Any),
    KEST_ACTION(NumEquals, 0, Any),
    KEST_ACTION(Password, 0, Any),
    KEST_ACTION(PlayList, 1, 1),
    KEST_ACTION(PlayRandom, 1, 1),
    KEST_ACTION(kestPlaySound, 1, 2),
    KEST_ACTION(PlayTextFile, 1, 1),
    KEST_ACTION(RecordSound, 2, 2),
    KEST_ACTION(RestoreEntityPos, 1, 1),
    KEST_ACTION(SendMail, 8, 8),
    KEST_ACTION(Sentence, 0, Any),
    KEST_ACTION(SetPosition, 0, Any),
    KEST_ACTION(SetRandomValue, 2, 3),
    KEST_ACTION(SetValue, 2, 2),
    KEST_ACTION(SetIniValue, 3, 3),
    KEST_ACTION(Stream, 0, Any),
    KEST_ACTION(StringStream, 0, Any),
    KEST_ACTION(SubtractNum, 0, Any),
    KEST_ACTION(Text, 0, 0),
    KEST_ACTION(TextFromDataSet, 0, Any),
    KEST_ACTION(TextFromNumber, 0, Any),
    KEST_ACTION(Wait, 1, 1),
    KEST_ACTION(WhileLoop, 0, Any),
    KEST_ACTION(CreateWebkit, 0, 0),
    KEST_ACTION(WGLAnimation, 2, 2),
    KEST_ACTION(ChangeEntity, 3, 3),
    KEST_ACTION(SelectCase, 2, Any),
    KEST_ACTION(SingleCase, 1, 1),
    KEST_ACTION(PlayVideo, 2, 2),
    KEST_ACTION(PngAnimate, 3, 4),
    KEST_ACTION(ShufflePosition, 1, 1),
    KEST_ACTION(ShuffleVariable, 1, 1),
    KEST_ACTION(ExitProc, 0, 0),
    KEST_ACTION(ChangeBackground, 1, 1),
    KEST_ACTION(CreateBubble, 1, 1),
    KEST_ACTION(ActivateImageBorder, 1, 1),
    KEST_ACTION(TextEntity, 6, 6),
    KEST_ACTION(ShowTextfile, 1, 2),
    KEST_ACTION(GetExternVariableSection, 1, 1),
    KEST_ACTION(IgnoreUserinput, 1, 1),
    KEST_ACTION(VideoPlayer, 3, 3),
    KEST_ACTION(VideoPlayerAction, 2, 4),
    KEST_ACTION(StopMedia, 1, 1),
    KEST_ACTION(LoadTextfile, 2, 2),
    KEST_ACTION(StopPngAnimation, 1, 1),
    KEST_ACTION(OpenLink, 1, 1),
};

} // namespace

void kestRegisterActions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const ActionEntry &entry : kActions)
            kestScriptBuilder::registerAction(QLatin1String(entry.name), entry.factory);
    });
}

std::optional<kestActionArguments> kestActionArgumentCount(const QString &tagName)
{
    // The builder's one alias: the sound action's tag.
    const QString name = tagName == QLatin1String("PlaySound") ? QStringLiteral("kestPlaySound") : tagName;
    for (const ActionEntry &entry : kActions) {
        if (name == QLatin1String(entry.name))
            return entry.arguments;
    }
    return std::nullopt;
}

QStringList kestActionTagNames()
{
    QStringList names;
    for (const ActionEntry &entry : kActions)
        names.append(QLatin1String(entry.name));
    names.append(QStringLiteral("PlaySound"));
    return names;
}
