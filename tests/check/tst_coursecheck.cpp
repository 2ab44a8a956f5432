// SPDX-License-Identifier: GPL-3.0-or-later
#include "coursecheck.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(TestFiles)

namespace {

QString line(const kestCheck::Problem &p)
{
    return QStringLiteral("%1:%2:%3: %4 %5: %6")
        .arg(QFileInfo(p.file).fileName())
        .arg(p.line)
        .arg(p.column)
        .arg(p.severity == kestCheck::Severity::Error ? QStringLiteral("error") : QStringLiteral("warning"), p.rule,
            p.message);
}

// A scene that is clean on its own, to surround the mistake of a row.
QString scene(const QString &name, const QString &body = {})
{
    return QStringLiteral("<SubProject><Name>%1</Name>%2</SubProject>").arg(name, body);
}

} // namespace

class tst_CourseCheck : public QObject
{
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
    void soundCourses_data();
    void soundCourses();
    void demoCourseIsClean();
    void catalogueAndJson();
};

// Every row is a course whose only mistake is the one its rule is about, at a known place.
void tst_CourseCheck::rules_data()
{
    QTest::addColumn<TestFiles>("files");
    QTest::addColumn<QString>("expected"); // "file:line:column: severity rule: start of message"

    const QString click = QStringLiteral("<Code>Script_Click<ActionList>%1</ActionList></Code>");
    auto doc = [](const QString &body) { return TestFiles { { QStringLiteral("c.avx"), body } }; };

    QTest::newRow("xml: not well-formed")
        << doc(QStringLiteral("<Project>\n<SubProject>\n</Project>\n")) << "c.avx:3:11: error xml: ";
    QString deep = QStringLiteral("<Project>");
    for (int i = 0; i < 300; ++i)
        deep += QStringLiteral("<a>");
    QTest::newRow("xml: too deep") << doc(deep) << "c.avx:1:775: error xml: elements nested more than 256 deep";
    QTest::newRow("unknown-action") << doc(QStringLiteral("<Project>\n")
        + scene(QStringLiteral("A"),
            QStringLiteral(
                "\n<Code>Script_Main <ActionList><ChangeLevl><Text>A</Text></ChangeLevl></ActionList></Code>"))
        + QStringLiteral("</Project>"))
                                    << "c.avx:3:31: error unknown-action: \"ChangeLevl\" is no action; it and "
                                       "everything inside it are skipped (did you mean \"ChangeLevel\"?)";
    QTest::newRow("child-count") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("\n<Code>Script_Main <IfEqual><Text>a</Text><Text>b</Text></IfEqual></Code>"))
        + QStringLiteral("</Project>"))
                                 << "c.avx:2:19: error child-count: IfEqual takes 3 to 4 child actions, this one has 2";
    QTest::newRow("child-count: two roots")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"), QStringLiteral("\n<Code>Script_Main <Exit/><Exit/></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:19: warning child-count: script \"Script_Main\" has 2 top-level actions";
    QTest::newRow("unknown-element")
        << doc(QStringLiteral("<Project>") + scene(QStringLiteral("A"), QStringLiteral("\n  <Entites/>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:3: warning unknown-element: \"Entites\" inside SubProject is ignored (did you mean \"Entities\"?)";
    QTest::newRow("unknown-attribute: Filname")
        << TestFiles { { QStringLiteral("c.avx"),
                           QStringLiteral("<Project>")
                               + scene(QStringLiteral("A"),
                                   QStringLiteral("<Entities>\n<Entity Name=\"E\"  Filname=\"x.png\"/></Entities>"))
                               + QStringLiteral("</Project>") },
               { QStringLiteral("x.png"), QString() } }
        << "c.avx:2:19: warning unknown-attribute: Entity has no attribute Filname; it is ignored (did you mean "
           "\"Filename\"?)";
    QTest::newRow("unknown-attribute: Dragdrop") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("<Entities>\n<Entity Name=\"E\" Text=\"e\" Dragdrop=\"True\"/></Entities>"))
        + QStringLiteral("</Project>"))
                                                 << "c.avx:2:27: warning unknown-attribute: Entity has no attribute "
                                                    "Dragdrop; it is ignored (did you mean \"DragDrop\"?)";
    QTest::newRow("case-trap: DragDrop")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("<Entities>\n<Entity Name=\"E\" Text=\"e\" DragDrop=\"true\"/></Entities>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:27: warning case-trap: DragDrop=\"true\" reads as false: only \"True\", written so, turns it on";
    QTest::newRow("case-trap: StateActive")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("<Entities>\n<Entity Name=\"E\" StateActive=\"False \"/></Entities>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:18: warning case-trap: StateActive=\"False \" has blanks around its value";
    QTest::newRow("case-trap: default case") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("\n<Code>Script_Main <SelectCase><Text>1</Text><SingleCase "
                           "name=\"Default\"><Exit/></SingleCase></SelectCase></Code>"))
        + QStringLiteral("</Project>")) << "c.avx:2:57: warning case-trap: case \"Default\" matches only that text";
    QTest::newRow("case-trap: MenuBar with a blank")
        << doc(QStringLiteral("<Project>") + scene(QStringLiteral("A"))
               + QStringLiteral("\n<SubProject MenuBar=\"None \"/></Project>"))
        << "c.avx:2:13: warning case-trap: MenuBar=\"None \" makes this scene a menu bar";
    QTest::newRow("case-trap: script name")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"), QStringLiteral("\n<Code>script_main <Exit/></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:1: warning case-trap: script \"script_main\" is a procedure, not Script_Main";
    QTest::newRow("missing-file: project document")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("\n<Code>Script_Main <ChangeProject><Text>part2.avx</Text></ChangeProject></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:34: error missing-file: project document \"part2.avx\" is not in the course folder";
    QTest::newRow("duplicate-entity")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("<Entities><Entity Name=\"E\"/>\n<Entity Name=\" E\"/></Entities>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:9: error duplicate-entity: a second entity \"E\" in this scene replaces the one on line 1";
    QTest::newRow("duplicate-scene") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            click.arg(QString())
                .replace(QStringLiteral("Script_Click"), QStringLiteral("Script_Main"))
                .replace(QStringLiteral("<ActionList></ActionList>"),
                    QStringLiteral("<ChangeLevel><Text>A</Text></ChangeLevel>")))
        + QStringLiteral("\n ") + scene(QStringLiteral("A")) + QStringLiteral("</Project>"))
                                     << "c.avx:2:2: error duplicate-scene: a second scene \"A\"";
    QTest::newRow("duplicate-script")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"), QStringLiteral("<Code>P <Exit/></Code>\n<Code> P<Exit/></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:1: error duplicate-script: a second script \"P\" in this scene replaces the one on line 1";
    QTest::newRow("unknown-scene") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("Welcome"),
            QStringLiteral("\n<Code>Script_Main <ChangeLevel><Text>Welcom</Text></ChangeLevel></Code>"))
        + QStringLiteral("</Project>"))
                                   << "c.avx:2:32: error unknown-scene: ChangeLevel goes to \"Welcom\", which is no "
                                      "scene of this document (did you mean \"Welcome\"?)";
    QTest::newRow("unknown-scene: a number") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("Welcome"),
            QStringLiteral("\n<Code>Script_Main <ChangeLevel><Number>0</Number></ChangeLevel></Code>"))
        + QStringLiteral("</Project>"))
                                             << "c.avx:2:32: error unknown-scene: ChangeLevel goes to \"0\", which is "
                                                "no scene of this document (scenes are entered by name, not by number)";
    QTest::newRow("unknown-procedure")
        << doc(QStringLiteral("<Project><SubProject>PROCEDURES<Code>CountClick<Exit/></Code></SubProject>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("\n<Code>Script_Main <CallProcedure><Text>CountClicks</Text></CallProcedure></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:34: error unknown-procedure: CallProcedure calls \"CountClicks\", which no scene of this document "
           "nor a procedure scene has (did you mean \"CountClick\"?)";
    QTest::newRow("unknown-entity") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("<Entities><Entity Name=\"Hint\"/></Entities>\n<Code>Script_Main "
                           "<ChangeEntity><Text>Hnt</Text><Text>Text</Text><Text>x</Text></ChangeEntity></Code>"))
        + QStringLiteral(
            "<SubProject MenuBar=\"top\"><Entities><Entity Name=\"Menu\"/></Entities></SubProject></Project>"))
                                    << "c.avx:2:33: error unknown-entity: ChangeEntity names the entity \"Hnt\", which "
                                       "neither the scene nor a menu bar has (did you mean \"Hint\"?)";
    QTest::newRow("missing-file") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("\n<Code>Script_Main <PlaySound><Text>sounds\\a.wav</Text></PlaySound></Code>"))
        + QStringLiteral(
            "</Project>")) << "c.avx:2:30: error missing-file: sound \"sounds/a.wav\" is not in the course folder";
    QTest::newRow("missing-file: letter case")
        << TestFiles { { QStringLiteral("c.avx"),
                           QStringLiteral("<Project>")
                               + scene(QStringLiteral("A"),
                                   QStringLiteral(
                                       "<Entities>\n<Entity Name=\"E\" Filename=\"pictures/apple.png\"/></Entities>"))
                               + QStringLiteral("</Project>") },
               { QStringLiteral("Pictures/Apple.png"), QString() } }
        << "c.avx:2:18: error missing-file: picture \"pictures/apple.png\" is missing: only the letter case differs "
           "from \"Pictures/Apple.png\"";
    QTest::newRow("missing-file: variables file")
        << TestFiles { { QStringLiteral("c.avx"),
                           QStringLiteral("<Project>") + scene(QStringLiteral("A")) + QStringLiteral("</Project>") },
               { QStringLiteral("variables_win.txt"), QStringLiteral("[Global]\nIntro=sounds\\intro.mp3\n") } }
        << "variables_win.txt:2:7: error missing-file: file \"sounds/intro.mp3\" is not in the course folder";
    QTest::newRow("unset-variable")
        << TestFiles { { QStringLiteral("c.avx"),
                           QStringLiteral("<Project>")
                               + scene(QStringLiteral("A"),
                                   QStringLiteral("\n<Code>Script_Main "
                                                  "<ActionList><SetValue><Text>Score</Text><Text>1</Text></"
                                                  "SetValue><Text>[Score*2] (Goal)</Text></ActionList></Code>"))
                               + QStringLiteral("</Project>") },
               { QStringLiteral("variables_win.txt"), QStringLiteral("[Global]\nName=x\n") } }
        << "c.avx:2:84: warning unset-variable: the text shows the variable (the parenthesis vanishes when it is "
           "unset) \"Goal\", which no script and no variables file sets";
    QTest::newRow("unreachable-scene") << doc(QStringLiteral("<Project>")
        + scene(
            QStringLiteral("A"), QStringLiteral("<Code>Script_Main <ChangeLevel><Text>C</Text></ChangeLevel></Code>"))
        + QStringLiteral("\n") + scene(QStringLiteral("B")) + scene(QStringLiteral("C"))
        + QStringLiteral(
            "</Project>")) << "c.avx:2:1: warning unreachable-scene: no way leads from the first scene to scene \"B\"";
    QTest::newRow("select-on-inactive") << doc(QStringLiteral("<Project>")
        + scene(QStringLiteral("A"),
            QStringLiteral("<Entities>\n<Entity Name=\"E\" Text=\"e\" "
                           "StateActive=\"false\"><Code>Script_Select<Exit/></Code></Entity></Entities>"))
        + QStringLiteral("</Project>"))
                                        << "c.avx:2:27: warning select-on-inactive: entity \"E\" is inactive and no "
                                           "script makes it active: its scripts never run";
    QTest::newRow("empty-script")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"), QStringLiteral("\n<Code>Script_Main <ActionList/></Code>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:19: warning empty-script: script \"Script_Main\" has an empty ActionList: it does nothing";
    QTest::newRow("no-label")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral("<Entities>\n<Entity Name=\"E\" Color=\"#fff\">")
                       + click.arg(QStringLiteral("<Exit/>")) + QStringLiteral("</Entity></Entities>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:1: warning no-label: entity \"E\" can be clicked but has neither Text nor a picture";
    QTest::newRow("unknown-script")
        << doc(QStringLiteral("<Project>")
               + scene(QStringLiteral("A"),
                   QStringLiteral(
                       "<Entities><Entity Name=\"E\" Text=\"e\">\n<Code>Script_Clik<Exit/></Code></Entity></Entities>"))
               + QStringLiteral("</Project>"))
        << "c.avx:2:1: warning unknown-script: an entity runs only Script_Click, Script_Select and Script_Release: "
           "\"Script_Clik\" never runs (did you mean \"Script_Click\"?)";
}

void tst_CourseCheck::rules()
{
    QFETCH(TestFiles, files);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    writeFiles(dir.path(), files);
    const kestCheck::Report report = kestCheck::check({ dir.path() });
    QStringList lines;
    for (const kestCheck::Problem &p : report.problems)
        lines.append(line(p));
    QVERIFY2(lines.size() == 1, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.first().startsWith(expected), qPrintable(lines.first()));
}

// What looks like a mistake and is none: no problem at all.
void tst_CourseCheck::soundCourses_data()
{
    QTest::addColumn<QString>("body"); // inside the scene "A", next to a scene "B"

    QTest::newRow("targets from variables and navigation words")
        << "<Code>Script_Main <ActionList><ChangeLevel><GetValue><Text>Next</Text></GetValue></ChangeLevel>"
           "<ChangeLevel><Text>go %NEXT</Text></ChangeLevel><SetValue><Text>Next</Text><Text>B</Text></SetValue>"
           "</ActionList></Code>";
    QTest::newRow("a recording played back, a text read aloud")
        << "<Code>Script_Main <ActionList><RecordSound><Text>rec\\me.wav</Text><Number>0</Number></RecordSound>"
           "<PlaySound><Text>rec/me.wav</Text></PlaySound><PlayTextFile><Text>Hello there</Text></PlayTextFile>"
           "<ChangeLevel><Text>B</Text></ChangeLevel></ActionList></Code>";
    QTest::newRow("a procedure of the scene, a variable from the variables file")
        << "<Code>Helper <ChangeLevel><Text>(Goal)</Text></ChangeLevel></Code>"
           "<Code>Script_Main <CallProcedure><Text>Helper</Text></CallProcedure></Code>";
    QTest::newRow("an inactive entity that a script activates")
        << "<Entities><Entity Name='E' Text='e' StateActive='false'><Code>Script_Click <ChangeLevel><Text>B</Text>"
           "</ChangeLevel></Code></Entity></Entities><Code>Script_Main <ChangeEntity><Text>E</Text>"
           "<Text>StateActive</Text><Text>true</Text></ChangeEntity></Code>";
}

void tst_CourseCheck::soundCourses()
{
    QFETCH(QString, body);
    QTemporaryDir dir;
    writeFiles(dir.path(),
        { { QStringLiteral("c.avx"),
              QStringLiteral("<Project>") + scene(QStringLiteral("A"), body) + scene(QStringLiteral("B"))
                  + QStringLiteral("</Project>") },
            { QStringLiteral("variables_win.txt"), QStringLiteral("[Global]\nGoal=B\n") } });
    const kestCheck::Report report = kestCheck::check({ dir.path() });
    QCOMPARE(kestCheck::formatText(report), QStringLiteral("0 error(s), 0 warning(s) in 2 file(s)\n"));
}

void tst_CourseCheck::demoCourseIsClean()
{
    const kestCheck::Report report = kestCheck::check({ QStringLiteral(KEST_SOURCE_DIR "/demo/course") });
    QCOMPARE(kestCheck::formatText(report), QStringLiteral("0 error(s), 0 warning(s) in 2 file(s)\n"));
}

// A catalogue checks the documents of every installed course it lists; JSON carries the same.
void tst_CourseCheck::catalogueAndJson()
{
    QTemporaryDir dir;
    writeFiles(dir.path(),
        { { QStringLiteral("tavelo.xml"),
              QStringLiteral("<root>\n <project Name=\"TAVELO English Version\" Folder=\"english\">\n"
                             "  <part Url=\"http://h/tavelo/english/main.avx\" main=\"True\"/>\n"
                             "  <part Url=\"http://h/tavelo/english/gone.avx\"/>\n </project>\n"
                             " <project Name=\"TAVELO German Version\" Folder=\"german\">\n"
                             "  <part Url=\"http://h/tavelo/german/main.avx\"/>\n </project>\n</root>\n") },
            { QStringLiteral("english/main.avx"), QStringLiteral("<Project>\n<Bogus/></Project>") } });
    const kestCheck::Report report = kestCheck::check({ dir.path() });
    const QJsonArray array = QJsonDocument::fromJson(kestCheck::formatJson(report)).array();
    QCOMPARE(array.size(), 2);
    const QJsonObject first = array.at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("file")).toString(),
        QDir::cleanPath(dir.path() + QStringLiteral("/english/main.avx")));
    QCOMPARE(first.value(QStringLiteral("line")).toInt(), 2);
    QCOMPARE(first.value(QStringLiteral("rule")).toString(), QStringLiteral("unknown-element"));
    const QJsonObject second = array.at(1).toObject();
    QCOMPARE(second.value(QStringLiteral("line")).toInt(), 4);
    QCOMPARE(second.value(QStringLiteral("severity")).toString(), QStringLiteral("error"));
    QCOMPARE(second.value(QStringLiteral("rule")).toString(), QStringLiteral("missing-file"));
    QCOMPARE(report.errors(), 1);
}

QTEST_GUILESS_MAIN(tst_CourseCheck)
#include "tst_coursecheck.moc"
