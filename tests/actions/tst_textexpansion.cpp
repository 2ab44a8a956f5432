// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "scriptbuilder.h"
#include "testactions.h"
#include "textexpansion.h"
#include "variablestore.h"

#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace kestVariables;

class tst_TextExpansion : public QObject
{
    Q_OBJECT
    std::unique_ptr<kestApplication> m_app;

private slots:
    void initTestCase()
    {
        m_app = std::make_unique<kestApplication>();
        registerTestActions();
    }
    void init()
    {
        clear();
        setSubProjectNameProvider(nullptr);
    }

    void expand_data()
    {
        QTest::addColumn<QString>("variables");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        // clang-format off
        QTest::newRow("plain text trimmed") << "" << "  just words \n" << "just words";
        QTest::newRow("variable operand") << "Score=21" << "[Score*2] points" << "42 points";
        QTest::newRow("brackets in turn") << "" << "[2*3] and [4/2]" << "6 and 2";
        QTest::newRow("two operands only") << "" << "[1+2+3]" << "3";
        QTest::newRow("negative result") << "" << "[1-5]" << "-4";
        QTest::newRow("unset operand stops") << "" << "[x+1] [1+1]" << "[x+1] [1+1]";
        QTest::newRow("empty left operand") << "" << "[-3+1]" << "[-3+1]";
        QTest::newRow("operands trimmed") << "a=1;b=2" << "[ a + b ]" << "3";
        QTest::newRow("division by zero") << "" << "[7/0]" << "inf";
        QTest::newRow("six digits") << "" << "[1/3]" << "0.333333";
        QTest::newRow("exponent form") << "" << "[1000*1000]" << "1e+06";
        QTest::newRow("exponent operand") << "" << "[1.00012e+06-1000]" << "999120";
        QTest::newRow("negative exponent operand") << "" << "[2e-3*1000]" << "2";
        QTest::newRow("name ending in e") << "size=5" << "[size-1]" << "4";
        QTest::newRow("unclosed bracket") << "" << "[1+2" << "[1+2";
        QTest::newRow("no operator stops") << "" << "[5] [2*3]" << "[5] [2*3]";
        QTest::newRow("variable") << "Name=Ann" << "Hello (Name)!" << "Hello Ann!";
        QTest::newRow("unset variable vanishes") << "" << "Hello (Name)!" << "Hello !";
        QTest::newRow("number vanishes") << "" << "a(5)b" << "ab";
        QTest::newRow("unclosed parenthesis") << "Name=Ann" << "(Name (Name" << "(Name (Name";
        QTest::newRow("brackets before parentheses") << "n=2" << "[(n)+1]" << "[2+1]";
        QTest::newRow("value naming itself") << "Loop=x(Loop)" << "(Loop) (Loop)" << "x(Loop) x(Loop)";
        QTest::newRow("dollar without placeholder") << "" << "costs $5 " << "costs $5";
        // clang-format on
    }
    void expand()
    {
        QFETCH(QString, variables);
        QFETCH(QString, text);
        for (const QString &entry : variables.split(QLatin1Char(';'), QString::SkipEmptyParts))
            assignVariable(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        QDomDocument doc;
        QDomElement code = doc.createElement(QStringLiteral("Code"));
        code.appendChild(doc.createElement(QStringLiteral("Text"))).appendChild(doc.createTextNode(text));
        const std::unique_ptr<kestObject> action(kestScriptBuilder::buildScript(code));
        QTEST(action->execute(), "result");
    }

    void placeholders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("pattern");
        // clang-format off
        QTest::newRow("date") << "on $DATE." << "" << R"(on \d{4}\.\d\d\.\d\d\.)";
        QTest::newRow("timer and time") << "$TIMER/$TIME" << "" << R"(\d{1,6}/\d\d:\d\d:\d\d)";
        QTest::newRow("scene name") << "in $SUBPROJECT" << "Scene 1" << "in Scene 1";
        QTest::newRow("no scene yet") << "in $SUBPROJECT" << "" << "in ";
        QTest::newRow("value holding its placeholder") << "$SUBPROJECT" << "$SUBPROJECT" << R"(\$SUBPROJECT)";
        // clang-format on
    }
    void timerInFull()
    {
        // Without an application the timer counts from the epoch: thirteen digits, which six
        // significant digits would turn into an exponent that arithmetic cannot read.
        m_app.reset();
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{13}$"))
                    .match(kestTextExpansion::expand(QStringLiteral("$TIMER")))
                    .hasMatch());
        QCOMPARE(kestTextExpansion::expand(QStringLiteral("[$TIMER-$TIMER]")), QStringLiteral("0"));
        m_app = std::make_unique<kestApplication>();
    }
    void placeholders()
    {
        QFETCH(QString, text);
        QFETCH(QString, scene);
        QFETCH(QString, pattern);
        if (!scene.isEmpty())
            setSubProjectNameProvider([scene] { return scene; });
        const QString result = kestTextExpansion::expandPlaceholders(text);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(result).hasMatch(),
            qPrintable(result));
    }
};

QTEST_GUILESS_MAIN(tst_TextExpansion)
#include "tst_textexpansion.moc"
