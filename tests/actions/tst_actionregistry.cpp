// SPDX-License-Identifier: GPL-3.0-or-later
#include "actionregistry.h"
#include "scriptbuilder.h"

#include <QtTest>

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
        "LoadTextfile StopPngAnimation OpenLink").split(QLatin1Char(' '));
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
    // The types written so far are registered in the table's order, and nothing else of the table's.
    const QStringList &table = actionTable();
    QCOMPARE(table.size(), 86);
    QStringList registered;
    for (const QString &name : kestScriptBuilder::registeredNames()) {
        if (table.contains(name))
            registered << name;
    }
    int position = -1;
    for (const QString &name : registered) {
        const int at = table.indexOf(name);
        QVERIFY2(at > position, qPrintable(name + QStringLiteral(" registered out of order")));
        position = at;
    }
    for (const char *name : { "ActionList", "Text", "Number", "Boolean", "ActionResult", "WhileLoop", "Null" })
        QVERIFY2(kestScriptBuilder::isRegistered(QLatin1String(name)), name);
    QVERIFY(!kestScriptBuilder::isRegistered(QStringLiteral("PlaySound")));
}

QTEST_GUILESS_MAIN(tst_ActionRegistry)
#include "tst_actionregistry.moc"
