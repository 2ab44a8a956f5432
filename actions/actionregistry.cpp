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

#define KEST_REGISTER(Class) kestScriptBuilder::registerAction<Class>(QStringLiteral(#Class))

void kestRegisterActions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // In the order of the format's type table.
        KEST_REGISTER(ActionList);
        KEST_REGISTER(ActionResult);
        KEST_REGISTER(AddNum);
        KEST_REGISTER(AddObject);
        KEST_REGISTER(AppendText);
        KEST_REGISTER(Batch);
        KEST_REGISTER(Boolean);
        KEST_REGISTER(CallProcedure);
        KEST_REGISTER(ChangeLevel);
        KEST_REGISTER(ChangeProject);
        KEST_REGISTER(CloseApp);
        KEST_REGISTER(ContainerShortcut);
        KEST_REGISTER(CopyText);
        KEST_REGISTER(CreateDirectory);
        KEST_REGISTER(DataSet);
        KEST_REGISTER(DeleteDirectory);
        KEST_REGISTER(DeleteFile);
        KEST_REGISTER(DirectoryInfo);
        KEST_REGISTER(DivideNum);
        KEST_REGISTER(Exit);
        KEST_REGISTER(File);
        KEST_REGISTER(FileInfo);
        KEST_REGISTER(FileStream);
        KEST_REGISTER(ForLoop);
        KEST_REGISTER(GetValue);
        KEST_REGISTER(GetIniValue);
        KEST_REGISTER(If);
        KEST_REGISTER(IfEqual);
        KEST_REGISTER(IfHigher);
        KEST_REGISTER(IfLower);
        KEST_REGISTER(IfNot);
        KEST_REGISTER(LoadFile);
        KEST_REGISTER(Log);
        KEST_REGISTER(Memory);
        KEST_REGISTER(MemoryAction);
        KEST_REGISTER(MemoryStream);
        KEST_REGISTER(MoveEntity);
        KEST_REGISTER(MultiplyNum);
        KEST_REGISTER(Null);
        KEST_REGISTER(Number);
        KEST_REGISTER(NumberFromText);
        KEST_REGISTER(NumEquals);
        KEST_REGISTER(Password);
        KEST_REGISTER(PlayList);
        KEST_REGISTER(PlayRandom);
        KEST_REGISTER(kestPlaySound);
        KEST_REGISTER(PlayTextFile);
        KEST_REGISTER(RecordSound);
        KEST_REGISTER(RestoreEntityPos);
        KEST_REGISTER(SendMail);
        KEST_REGISTER(Sentence);
        KEST_REGISTER(SetPosition);
        KEST_REGISTER(SetRandomValue);
        KEST_REGISTER(SetValue);
        KEST_REGISTER(SetIniValue);
        KEST_REGISTER(Stream);
        KEST_REGISTER(StringStream);
        KEST_REGISTER(SubtractNum);
        KEST_REGISTER(Text);
        KEST_REGISTER(TextFromDataSet);
        KEST_REGISTER(TextFromNumber);
        KEST_REGISTER(Wait);
        KEST_REGISTER(WhileLoop);
        KEST_REGISTER(CreateWebkit);
        KEST_REGISTER(WGLAnimation);
        KEST_REGISTER(ChangeEntity);
        KEST_REGISTER(SelectCase);
        KEST_REGISTER(SingleCase);
        KEST_REGISTER(PlayVideo);
        KEST_REGISTER(PngAnimate);
        KEST_REGISTER(ShufflePosition);
        KEST_REGISTER(ShuffleVariable);
        KEST_REGISTER(ExitProc);
        KEST_REGISTER(ChangeBackground);
        KEST_REGISTER(CreateBubble);
        KEST_REGISTER(ActivateImageBorder);
        KEST_REGISTER(TextEntity);
        KEST_REGISTER(ShowTextfile);
        KEST_REGISTER(GetExternVariableSection);
        KEST_REGISTER(IgnoreUserinput);
        KEST_REGISTER(VideoPlayer);
        KEST_REGISTER(VideoPlayerAction);
        KEST_REGISTER(StopMedia);
        KEST_REGISTER(LoadTextfile);
        KEST_REGISTER(StopPngAnimation);
        KEST_REGISTER(OpenLink);
    });
}
