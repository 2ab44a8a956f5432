// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestobject.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QFile>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

// The name of a Code element: the text before its first action.
QString scriptName(const QDomElement &code)
{
    return code.firstChild().nodeValue().trimmed();
}

// "Class(child,child)" for a tree, so a whole tree compares as one text.
QString shape(const kestObject *action)
{
    QString text = QLatin1String(action->metaObject()->className());
    if (!action->objectName().isEmpty())
        text += QLatin1Char('#') + action->objectName();
    QStringList children;
    for (int i = 0; i < action->childActionCount(); ++i)
        children << shape(action->childAction(i));
    if (!children.isEmpty())
        text += QLatin1Char('(') + children.join(QLatin1Char(',')) + QLatin1Char(')');
    return text;
}

// Stands in for the sound action until that is written; only registered when it is missing.
class SoundStandIn : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return QString(); }
};

} // namespace

class tst_ScriptBuilder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { TestRecord::clearJournal(); }
    void build_data();
    void build();
    void soundAlias();
    void arguments_data();
    void arguments();
    void concurrentBuilds();

private:
    std::unique_ptr<kestObject> buildNamed(const QString &name);

    std::unique_ptr<kestApplication> m_app;
    QDomDocument m_scripts;
};

void tst_ScriptBuilder::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    QFile file(QStringLiteral(KEST_TEST_DATA_DIR "/builder/scripts.avx"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(m_scripts.setContent(&file));
}

std::unique_ptr<kestObject> tst_ScriptBuilder::buildNamed(const QString &name)
{
    const QDomElement root = m_scripts.documentElement();
    for (QDomElement code = root.firstChildElement(); !code.isNull(); code = code.nextSiblingElement()) {
        if (scriptName(code) == name)
            return std::unique_ptr<kestObject>(kestScriptBuilder::buildScript(code));
    }
    qWarning("no script named %s", qPrintable(name));
    return nullptr;
}

void tst_ScriptBuilder::build_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("tree");
    QTest::addColumn<bool>("rootHasChildren");

    QTest::newRow("values") << "values"
                            << "ActionList(Text,Number,Boolean)" << true;
    QTest::newRow("unknown tag skipped with its subtree") << "unknown skipped"
                                                          << "ActionList(Text,Text)" << true;
    QTest::newRow("only unknown children") << "all unknown"
                                           << "ActionList" << false;
    QTest::newRow("two roots: the last one") << "two roots"
                                             << "ActionList(TestRecord)" << true;
    QTest::newRow("type names the registry does not hold") << "framework names"
                                                           << "ActionList" << false;
    QTest::newRow("name attribute, empty or set") << "names"
                                                  << "ActionList#outer(Text,Text#label)" << true;
    QTest::newRow("nesting") << "nested"
                             << "ActionList(ActionList(ActionList(TestRecord)),TestRecord)" << true;
}

void tst_ScriptBuilder::build()
{
    QFETCH(QString, script);
    const std::unique_ptr<kestObject> root = buildNamed(script);
    QVERIFY(root);
    QTEST(shape(root.get()), "tree");
    QTEST(root->hasChildren, "rootHasChildren");
    QVERIFY(!root->parent());
    QCOMPARE(root->element.tagName(), QLatin1String(root->metaObject()->className()));

    if (script == QLatin1String("two roots")) {
        root->execute();
        QCOMPARE(TestRecord::journal(), QStringList(QStringLiteral("second")));
    }
}

void tst_ScriptBuilder::soundAlias()
{
    if (!kestScriptBuilder::isRegistered(QStringLiteral("kestPlaySound")))
        kestScriptBuilder::registerAction<SoundStandIn>(QStringLiteral("kestPlaySound"));
    const std::unique_ptr<kestObject> root = buildNamed(QStringLiteral("sound alias"));
    QCOMPARE(root->childActionCount(), 2);
    QCOMPARE(root->childAction(0)->metaObject(), root->childAction(1)->metaObject());
    QCOMPARE(root->childAction(0)->element.tagName(), QStringLiteral("PlaySound"));

    // Unregistered last tag and a Code without children leave no root.
    QVERIFY(!buildNamed(QStringLiteral("unknown last")));
    QVERIFY(!buildNamed(QStringLiteral("empty")));
    QVERIFY(TestRecord::journal().isEmpty());
}

void tst_ScriptBuilder::arguments_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("result");
    QTest::newRow("unknown child shifts later arguments down") << "argument shift"
                                                               << "two";
    QTest::newRow("missing argument is empty") << "missing argument"
                                               << "";
}

void tst_ScriptBuilder::arguments()
{
    QFETCH(QString, script);
    const std::unique_ptr<kestObject> root = buildNamed(script);
    QVERIFY(root);
    QTEST(root->execute(), "result");
}

void tst_ScriptBuilder::concurrentBuilds()
{
    // Worker threads build scripts at the same time; every build must come out whole.
    const QDomElement code = [this] {
        for (QDomElement c = m_scripts.documentElement().firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            if (scriptName(c) == QLatin1String("nested"))
                return c;
        }
        return QDomElement();
    }();
    QVERIFY(!code.isNull());
    std::atomic<int> wholeTrees { 0 };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([&code, &wholeTrees] {
            for (int i = 0; i < 200; ++i) {
                std::unique_ptr<kestObject> root(kestScriptBuilder::buildScript(code));
                if (root
                    && shape(root.get()) == QLatin1String("ActionList(ActionList(ActionList(TestRecord)),TestRecord)"))
                    ++wholeTrees;
            }
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(60000));
    QCOMPARE(wholeTrees.load(), 800);
}

QTEST_GUILESS_MAIN(tst_ScriptBuilder)
#include "tst_scriptbuilder.moc"
