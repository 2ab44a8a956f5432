// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "kestobject.h"
#include "scriptbuilder.h"

#include <QDomDocument>

#include <QtTest>

#include <memory>

namespace {

// The element types of a script, in the order a reader of the file would name them.
const QStringList &actionTable()
{
    static const QStringList names = QStringLiteral(
        "ActionList ActionResult AddNum AddObject AppendText Batch Boolean CallProcedure ChangeLevel ChangeProject "
        "CloseApp ContainerShortcut CopyText CreateDirectory DataSet DeleteDirectory DeleteFile DirectoryInfo "
        "DivideNum Exit File FileInfo FileStream ForLoop GetValue GetIniValue If IfEqual IfHigher IfLower IfNot "
        "LoadFile Log Memory MemoryAction MemoryStream MoveEntity MultiplyNum Null Number NumberFromText NumEquals "
        "Password PlayList PlayRandom kestPlaySound PlayTextFile RecordSound RestoreEntityPos SendMail Sentence "
        "SetPosition SetRandomValue SetValue SetIniValue Stream StringStream SubtractNum Text TextFromDataSet "
        "TextFromNumber Wait WhileLoop CreateWebkit WGLAnimation ChangeEntity SelectCase SingleCase PlayVideo "
        "PngAnimate ShufflePosition ShuffleVariable ExitProc ChangeBackground CreateBubble ActivateImageBorder "
        "TextEntity ShowTextfile GetExternVariableSection IgnoreUserinput VideoPlayer VideoPlayerAction StopMedia "
        "LoadTextfile StopPngAnimation OpenLink")
                                         .split(QLatin1Char(' '));
    return names;
}

} // namespace

// The registration of the action library.
class tst_ActionRegistry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { kestRegisterActions(); }
    void registry();
};

void tst_ActionRegistry::registry()
{
    // Every type of the table is registered, in the table's order, and nothing else.
    const QStringList &table = actionTable();
    QCOMPARE(table.size(), 86);
    QCOMPARE(kestScriptBuilder::registeredNames(), table);
    // The sound element builds the class of its own name.
    QVERIFY(!kestScriptBuilder::isRegistered(QStringLiteral("PlaySound")));
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral("<Code><PlaySound><Text>a.wav</Text></PlaySound></Code>")));
    const std::unique_ptr<kestObject> sound(kestScriptBuilder::buildScript(doc.documentElement()));
    QVERIFY(sound);
    QCOMPARE(sound->metaObject()->className(), "kestPlaySound");
}

QTEST_GUILESS_MAIN(tst_ActionRegistry)
#include "tst_actionregistry.moc"
