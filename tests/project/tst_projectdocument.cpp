// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectdocument.h"

#include "deepxml.h"
#include "kestobject.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QtTest>

#include <memory>

using namespace kestDocument;
Q_DECLARE_METATYPE(kestDocument::SubProjectKind)

namespace {
QString dataFile(const char *name)
{
    return QStringLiteral(KEST_TEST_DATA_DIR "/document/") + QLatin1String(name);
}
}

class tst_ProjectDocument : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loadFailures_data();
    void loadFailures();
    void projectSize_data();
    void projectSize();
    void subProjects_data();
    void subProjects();
    void subProjectContent();
    void scriptSlots_data();
    void scriptSlots();
    void entities_data();
    void entities();
    void entityScripts();
    void integers_data();
    void integers();
    void documentScriptsExecute();

private:
    QTemporaryDir m_dir;
    QString m_deepFile;
    QDomDocument m_rules;
    ProjectOutline m_outline;
};

void tst_ProjectDocument::initTestCase()
{
    registerTestActions();
    QVERIFY(load(dataFile("rules.avx"), m_rules));
    m_deepFile = m_dir.filePath(QStringLiteral("deep.avx"));
    QFile deep(m_deepFile);
    QVERIFY(deep.open(QIODevice::WriteOnly));
    deep.write(QByteArray("<ActionList>").repeated(60000) + QByteArray("</ActionList>").repeated(60000));
    m_outline = readProject(m_rules);
}

void tst_ProjectDocument::loadFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("errorContains");
    QTest::newRow("missing file") << dataFile("no-such.avx") << QString();
    QTest::newRow("not well-formed") << dataFile("malformed.avx")
                                     << QStringLiteral("malformed.avx:2:39: Opening and ending tag mismatch.");
    QTest::newRow("empty file") << dataFile("empty.avx") << QStringLiteral("empty.avx:");
    // Deep enough to overflow the DOM parser's stack: refused before it is built.
    QTest::newRow("nested 60,000 deep") << m_deepFile << QStringLiteral("deep.avx:elements nested more than 256 deep");
    // What the depth scan cannot read never reaches the DOM parser, whatever the DOM parser makes of it.
    int n = 0;
    for (const auto &document : deepUnreadableDocuments()) {
        const QString path = m_dir.filePath(QStringLiteral("unreadable%1.avx").arg(n++));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(document.second) == document.second.size());
        QTest::newRow(document.first) << path << QFileInfo(path).fileName() + QLatin1Char(':');
    }
}

void tst_ProjectDocument::loadFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, errorContains);
    QDomDocument doc;
    QString error;
    QVERIFY(!load(path, doc, &error));
    QVERIFY(doc.isNull());
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(errorContains), qPrintable(error));
}

void tst_ProjectDocument::projectSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("subProjects");
    QTest::newRow("given") << dataFile("rules.avx") << 1024 << 768 << 8;
    QTest::newRow("defaults") << dataFile("defaults.avx") << 1600 << 900 << 1;
}

void tst_ProjectDocument::projectSize()
{
    QFETCH(QString, path);
    QDomDocument doc;
    QVERIFY(load(path, doc));
    const ProjectOutline outline = readProject(doc);
    QTEST(outline.width, "width");
    QTEST(outline.height, "height");
    QTEST(outline.subProjects.size(), "subProjects");
}

void tst_ProjectDocument::subProjects_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<SubProjectKind>("kind");
    QTest::addColumn<bool>("menuBarFlag");
    QTest::addColumn<QString>("placement");
    QTest::addColumn<QRect>("area"); // X, Y, Width, Height
    QTest::addColumn<QString>("overlay");
    QTest::addColumn<bool>("keepAspectRatio");

    const QRect defaultArea(200, 0, 800, 800);
    const QString none = QStringLiteral("none");
    QTest::newRow("Name element wins over leading text")
        << 0 << "Named by element" << SubProjectKind::Ordinary << false << QString() << defaultArea << none << false;
    QTest::newRow("leading text, trimmed")
        << 1 << "Named by text" << SubProjectKind::Ordinary << false << QString() << defaultArea << none << false;
    QTest::newRow("empty Name element falls back to text")
        << 2 << "Fallback to text" << SubProjectKind::Ordinary << false << QString() << defaultArea << none << false;
    QTest::newRow("PROCEDURES text beats MenuBar")
        << 3 << "Library" << SubProjectKind::Procedure << true << "top" << defaultArea << none << false;
    QTest::newRow("PROCEDURES inside Name only") << 4 << "Only PROCEDURES in name" << SubProjectKind::Ordinary << false
                                                 << QString() << defaultArea << none << false;
    QTest::newRow("MenuBar none in capitals")
        << 5 << "No menu" << SubProjectKind::Ordinary << false << "none" << defaultArea << none << false;
    QTest::newRow("menu bar with attributes")
        << 6 << "Menu" << SubProjectKind::MenuBar << true << "top" << QRect(0, 780, 1600, 120) << "glass" << true;
    QTest::newRow("non-numeric X reads 0, yes is not true")
        << 7 << "Scene" << SubProjectKind::Ordinary << false << QString() << QRect(0, 0, 800, 800) << none << false;
}

void tst_ProjectDocument::subProjects()
{
    QFETCH(int, index);
    const SubProjectEntry &entry = m_outline.subProjects.at(index);
    QTEST(entry.name, "name");
    QTEST(entry.kind, "kind");
    QCOMPARE(subProjectName(entry.element), entry.name);

    const SubProjectAttributes a = readSubProjectAttributes(entry.element);
    QTEST(a.menuBarPlacement, "placement");
    QTEST(a.isMenuBar, "menuBarFlag");
    QTEST(QRect(a.x, a.y, a.width, a.height), "area");
    QTEST(a.overlay, "overlay");
    QTEST(a.keepAspectRatio, "keepAspectRatio");
}

void tst_ProjectDocument::subProjectContent()
{
    const SubProjectContent scene = readSubProjectContent(m_outline.subProjects.at(7).element);
    QCOMPARE(scene.name, QStringLiteral("Scene"));
    QVERIFY(scene.hasNameElement);
    QCOMPARE(scene.entityCount, 4);
    QCOMPARE(scene.type, 0);
    QCOMPARE(scene.velocity, 7);
    // Every Entities element contributes, in document order; WebView is not an entity.
    QStringList names;
    for (const QDomElement &e : scene.entities)
        names << e.attribute(QStringLiteral("Name"));
    QCOMPARE(names,
        QStringList(
            { QStringLiteral(" Ball "), QStringLiteral("Lower"), QStringLiteral("Plain"), QStringLiteral("Ball") }));

    // Code elements are filed by trimmed name into the fixed slots.
    for (int slot = 0; slot < FixedSlotCount; ++slot)
        QCOMPARE(!scene.fixedScripts[size_t(slot)].isNull(), slot == 0 || slot == 3 || slot == 14);

    const SubProjectContent byText = readSubProjectContent(m_outline.subProjects.at(1).element);
    QVERIFY(!byText.hasNameElement);
    QCOMPARE(byText.type, 3);
}

void tst_ProjectDocument::scriptSlots_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("slot");
    QTest::newRow("main with blanks") << " Script_Main " << 0;
    QTest::newRow("joystick 03") << "Script_JoystickButton03" << 3;
    QTest::newRow("joystick 14") << "Script_JoystickButton14" << 14;
    QTest::newRow("joystick 15 is a named script") << "Script_JoystickButton15" << -1;
    QTest::newRow("one digit is a named script") << "Script_JoystickButton3" << -1;
    QTest::newRow("joystick 00 is a named script") << "Script_JoystickButton00" << -1;
    QTest::newRow("other letter case") << "script_main" << -1;
}

void tst_ProjectDocument::scriptSlots()
{
    QFETCH(QString, script);
    QTEST(fixedSlot(script.trimmed()), "slot");
}

void tst_ProjectDocument::entities_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<int>("function");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("dragDrop");
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("descriptionColor");

    QTest::newRow("all attributes, Filename names a variable")
        << 0 << "Ball"
        << "pics/ball.png" << 3 << false << true << "Kick" << quint32(0xFFFF0000);
    QTest::newRow("lower-case true is no drag, no is inactive") << 1 << "Lower"
                                                                << "" << 0 << false << false << "" << quint32(0);
    QTest::newRow("defaults: active, Filename kept when no variable")
        << 2 << "Plain"
        << "pics\\plain.png" << 0 << true << false << "" << quint32(0);
}

void tst_ProjectDocument::entities()
{
    QFETCH(int, index);
    const SubProjectContent scene = readSubProjectContent(m_outline.subProjects.at(7).element);
    const auto resolve = [](const QString &text) {
        return text == QLatin1String("ballpicture") ? QStringLiteral("pics/ball.png") : QString();
    };
    const EntityData e = readEntity(scene.entities.at(index), resolve);
    QTEST(e.name, "name");
    QTEST(e.filename, "filename");
    QTEST(e.function, "function");
    QTEST(e.stateActive, "active");
    QTEST(e.dragDrop, "dragDrop");
    QTEST(e.text, "text");
    QTEST(e.descriptionColor, "descriptionColor");
}

void tst_ProjectDocument::entityScripts()
{
    const SubProjectContent scene = readSubProjectContent(m_outline.subProjects.at(7).element);
    const EntityData ball = readEntity(scene.entities.at(0));
    QCOMPARE(ball.effect, 2);
    QCOMPARE(ball.descriptionSize, 12);
    QCOMPARE(scriptName(ball.clickScript), QStringLiteral("Script_Click"));
    QCOMPARE(scriptName(ball.selectScript), QStringLiteral("Script_Select"));
    QCOMPARE(scriptName(ball.releaseScript), QStringLiteral("Script_Release"));

    const EntityData lower = readEntity(scene.entities.at(1));
    QVERIFY(lower.clickScript.isNull() && lower.selectScript.isNull() && lower.releaseScript.isNull());

    // Named scripts: trimmed names; a later script of the same name replaces the earlier one.
    QCOMPARE(scene.namedScripts.keys(),
        QStringList({ QStringLiteral("Helper"), QStringLiteral("Script_JoystickButton15"),
            QStringLiteral("Script_JoystickButton3") }));
    const QDomElement helper = scene.namedScripts.value(QStringLiteral("Helper"));
    QCOMPARE(helper.firstChildElement().firstChildElement().text(), QStringLiteral("second helper"));
}

void tst_ProjectDocument::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "42" << 42;
    QTest::newRow("negative") << "-7" << -7;
    QTest::newRow("blanks") << " 12 " << 12;
    QTest::newRow("word") << "abc" << 0;
    QTest::newRow("fraction") << "1.5" << 0;
    QTest::newRow("hex is not decimal") << "0x10" << 0;
    QTest::newRow("empty") << "" << 0;
}

void tst_ProjectDocument::integers()
{
    QFETCH(QString, text);
    QTEST(toInt(text), "value");
}

void tst_ProjectDocument::documentScriptsExecute()
{
    // A course document read into its scenes and entities; their scripts build and execute.
    QDomDocument doc;
    QVERIFY(kestDocument::load(QStringLiteral(KEST_TEST_DATA_DIR "/document/rules.avx"), doc));
    const kestDocument::ProjectOutline outline = kestDocument::readProject(doc);
    QStringList ran;
    for (const kestDocument::SubProjectEntry &entry : outline.subProjects) {
        const kestDocument::SubProjectContent content = kestDocument::readSubProjectContent(entry.element);
        QList<QDomElement> scripts(content.fixedScripts.begin(), content.fixedScripts.end());
        scripts += content.namedScripts.values();
        for (const QDomElement &entity : content.entities) {
            const kestDocument::EntityData data = kestDocument::readEntity(entity);
            scripts << data.clickScript << data.selectScript << data.releaseScript;
        }
        for (const QDomElement &code : qAsConst(scripts)) {
            if (code.isNull())
                continue;
            std::unique_ptr<kestObject> root(kestScriptBuilder::buildScript(code));
            QVERIFY(root);
            root->execute();
        }
    }
    QCOMPARE(TestRecord::journal(),
        QStringList(
            { QStringLiteral("hello"), QStringLiteral("main"), QStringLiteral("joy3"), QStringLiteral("second helper"),
                QStringLiteral("click"), QStringLiteral("select"), QStringLiteral("release") }));
}

QTEST_GUILESS_MAIN(tst_ProjectDocument)
#include "tst_projectdocument.moc"
