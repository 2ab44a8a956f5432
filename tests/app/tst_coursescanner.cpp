// SPDX-License-Identifier: GPL-3.0-or-later
// The three course file scanners on small documents, variables files and list files; missing
// list files come from a stand-in for the server that records what was asked for.
#include "coursescanner.h"
#include "deepxml.h"
#include "kestpaths.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

using Files = QMap<QString, QByteArray>;

namespace {

QStringList names(const char *joined)
{
    return QString::fromUtf8(joined).split(QLatin1Char('|'));
}

} // namespace

class tst_CourseScanner : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void paths_data();
    void paths();
    void projectReferences_data();
    void projectReferences();
    void variableFileReferences_data();
    void variableFileReferences();

private:
    // The course folder with the given files in it, and a scanner whose fetches take files
    // from server.
    CourseScanner scanner(const Files &local, const Files &server);
    QString courseFolder() const { return m_dir->path() + QStringLiteral("/course/"); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_fetched;
    QStringList m_wrongAddresses;
};

void tst_CourseScanner::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_fetched.clear();
    m_wrongAddresses.clear();
}

CourseScanner tst_CourseScanner::scanner(const Files &local, const Files &server)
{
    for (auto it = local.begin(); it != local.end(); ++it)
        writeFile(courseFolder() + it.key(), it.value());
    return CourseScanner([this, server](const QString &folder, const QString &name, const QString &partAddress) {
        m_fetched << name.trimmed();
        if (partAddress != QLatin1String("http://u:p@127.0.0.1:1/tavelo/c/part.avx"))
            m_wrongAddresses << partAddress;
        if (server.contains(name.trimmed()))
            writeFile(kestPaths::joinPath(folder, name), server.value(name.trimmed()));
        return true;
    });
}

void tst_CourseScanner::paths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("inside"); // relative to the folder; "-" for no path
    QTest::addColumn<bool>("leaves");
    QTest::newRow("plain") << QStringLiteral("a.mp3") << QStringLiteral("a.mp3") << false;
    QTest::newRow("blanks and line end") << QStringLiteral(" pics/a.png\r\n") << QStringLiteral("pics/a.png") << false;
    QTest::newRow("backslashes") << QStringLiteral("pics\\a.png") << QStringLiteral("pics/a.png") << false;
    QTest::newRow("climbs and returns") << QStringLiteral("sub/../a.png") << QStringLiteral("a.png") << false;
    QTest::newRow("parent") << QStringLiteral("../a.png") << QStringLiteral("-") << true;
    QTest::newRow("climbs out deep") << QStringLiteral("a/../../../b.png") << QStringLiteral("-") << true;
    QTest::newRow("parent with backslashes") << QStringLiteral("..\\..\\Tavelo.ini") << QStringLiteral("-") << true;
    QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << QStringLiteral("-") << true;
    QTest::newRow("drive") << QStringLiteral("C:\\Windows\\x.png") << QStringLiteral("-") << true;
    QTest::newRow("drive relative") << QStringLiteral("c:x.png") << QStringLiteral("-") << true;
    QTest::newRow("empty names no file") << QString() << QStringLiteral("-") << false;
    QTest::newRow("dot is the folder itself") << QStringLiteral(".") << QStringLiteral("-") << false;
}

void tst_CourseScanner::paths()
{
    QFETCH(QString, name);
    QFETCH(QString, inside);
    const QString folder = QStringLiteral("/home/learner/Documents/Tavelo/english/");
    const QString expected = inside == QLatin1String("-") ? QString() : folder + inside;
    QCOMPARE(kestCoursePath::inside(folder, name), expected);
    QTEST(kestCoursePath::leaves(folder, name), "leaves");
}

void tst_CourseScanner::projectReferences_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<Files>("local");
    QTest::addColumn<Files>("server");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("fetched");

    const Files none;
    QTest::newRow("comma list of two: once")
        << QByteArray("<P><Sound>a.mp3,b.mp3</Sound></P>") << none << none << names("a.mp3|b.mp3") << QStringList();
    QTest::newRow("comma list of three: once") << QByteArray("<P><Sound>a.mp3,b.mp3,c.mp3</Sound></P>") << none << none
                                               << names("a.mp3|b.mp3|c.mp3") << QStringList();
    // Each list taken once, each missing list file asked for once (not once per name in the list).
    QTest::newRow("missing list files in one comma list: each fetched once")
        << QByteArray("<P><L>a.txt,b.lst,c.txt,d.lst</L><M>a.txt</M></P>") << none << none << QStringList()
        << names("a.txt|b.lst|c.txt|d.lst");
    QTest::newRow("empty piece of a comma list")
        << QByteArray("<P><S>a.mp3,,b.png</S></P>") << none << none << names("a.mp3||b.png") << QStringList();
    QTest::newRow("comma list keeps USERPATH") << QByteArray("<P><S>USERPATH/rec.wav,b.mp3</S></P>") << none << none
                                               << names("USERPATH/rec.wav|b.mp3") << QStringList();
    QTest::newRow("element text") << QByteArray("<P><PlaySound>sounds\\hi.wav</PlaySound><Video>v.mp4</Video></P>")
                                  << none << none << names("sounds/hi.wav|v.mp4") << QStringList();
    QTest::newRow("attribute value with backslash")
        << QByteArray("<P><E Filename=\"pics\\x.png\"/><F Other=\"b.avi\"/></P>") << none << none
        << names("pics/x.png|b.avi") << QStringList();
    QTest::newRow("html in attributes, not in element text")
        << QByteArray("<P><E Link=\"help/page.html\"><T>page.html</T></E></P>") << none << none
        << names("help/page.html") << QStringList();
    QTest::newRow("USERPATH in attribute and text not taken")
        << QByteArray("<P><E Filename=\"USERPATH/a.png\"><T>USERPATH\\b.wav</T></E></P>") << none << none
        << QStringList() << QStringList();
    QTest::newRow("upper-case extensions not recognised")
        << QByteArray("<P><E Filename=\"A.PNG\"><T>b.Mp3</T><L>c.JPG,d.TXT</L></E></P>") << none << none
        << QStringList() << QStringList();
    QTest::newRow("list file in the course folder")
        << QByteArray("<P><Words>words.txt</Words></P>")
        << Files { { QStringLiteral("words.txt"), "x.mp3, y.png\nz.lst\n" } } << none
        << names("words.txt|x.mp3| y.png\n|z.lst\n") << QStringList();
    // A list file fetched during the scan is not fetched again with the other files.
    QTest::newRow("missing list file fetched on the spot")
        << QByteArray("<P><E List=\"lists\\words.lst\"/></P>") << none
        << Files { { QStringLiteral("lists/words.lst"), "a.mp3,b.png\r\nc.jpg" } } << names("a.mp3|b.png\r\n|c.jpg")
        << names("lists/words.lst");
    QTest::newRow("names that leave the course folder")
        << QByteArray("<P><E Filename=\"../../evil.png\"/><E Filename=\"/etc/x.png\"/><E Filename=\"C:\\win\\x.png\"/>"
                      "<S>..\\up.mp3,ok.mp3</S><T>sub/../fine.wav</T><E List=\"../../Tavelo.ini.txt\"/></P>")
        << none << Files { { QStringLiteral("../../Tavelo.ini.txt"), "a.mp3" } } << names("ok.mp3|sub/../fine.wav")
        << QStringList();
    QTest::newRow("not well-formed") << QByteArray("<P><S>a.mp3</S>") << none << none << QStringList() << QStringList();
    for (const auto &document : deepUnreadableDocuments("<S>deep.mp3</S>"))
        QTest::newRow(document.first) << document.second << none << none << QStringList() << QStringList();
}

void tst_CourseScanner::projectReferences()
{
    QFETCH(QByteArray, document);
    QFETCH(Files, local);
    QFETCH(Files, server);
    CourseScanner scan = scanner(local, server);
    const QString partFile = courseFolder() + QStringLiteral("part.avx");
    writeFile(partFile, document);
    const QStringList found = scan.collectProjectReferences(
        {}, partFile, courseFolder(), QStringLiteral("http://u:p@127.0.0.1:1/tavelo/c/part.avx"));
    QTEST(found, "expected");
    QTEST(m_fetched, "fetched");
    QCOMPARE(m_wrongAddresses, QStringList());
    // Nothing was written outside the course folder.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { QStringLiteral("course") });
}

void tst_CourseScanner::variableFileReferences_data()
{
    QTest::addColumn<QByteArray>("variables");
    QTest::addColumn<Files>("server");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("fetched");

    const Files none;
    QTest::newRow("backslashes become slashes, line end kept")
        << QByteArray("[Global]\nIntro=sounds\\intro.mp3\nLogo=pics\\\\logo.png\r\nName=Learner\n") << none
        << names("sounds/intro.mp3\n|pics/logo.png\r\n") << QStringList();
    QTest::newRow("all nine extensions, case-sensitive")
        << QByteArray("a=1.mp3\nb=2.jpg\nc=3.png\nd=4.mp4\ne=5.avi\nf=6.wav\ng=7.PNG\nh=8.gif\n") << none
        << names("1.mp3\n|2.jpg\n|3.png\n|4.mp4\n|5.avi\n|6.wav\n") << QStringList();
    QTest::newRow("only key=value lines with two pieces")
        << QByteArray("x.mp3\nk=v=w.mp3\n=lone.mp3\nk==two.png\n\n\nlast=after.wav") << none
        << names("two.png\n|after.wav") << QStringList();
    QTest::newRow("repeats taken once") << QByteArray("a=x.mp3\nb=x.mp3\n") << none << names("x.mp3\n")
                                        << QStringList();
    QTest::newRow("an error page names nothing")
        << QByteArray("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\nx=a.mp3\n") << none
        << QStringList() << QStringList();
    QTest::newRow("list file fetched and read, then listed")
        << QByteArray("[Global]\nWords=lists\\words.lst\n")
        << Files { { QStringLiteral("lists/words.lst"), "a.mp3, b.png\n" } }
        << names("a.mp3| b.png\n|lists/words.lst\n") << names("lists/words.lst");
    QTest::newRow("project document read as a list file")
        << QByteArray("Doc=more.avx\n")
        << Files { { QStringLiteral("more.avx"), "<P>\n<S>one.mp3,two.png</S>\n</P>\n" } }
        << names("<S>one.mp3|more.avx\n") << names("more.avx");
    QTest::newRow("names that leave the course folder")
        << QByteArray("Evil=..\\..\\evil.mp3\nRoot=/etc/x.png\nOk=ok.mp3\nList=l.txt\n")
        << Files { { QStringLiteral("l.txt"), "../up.png,in.png" } } << names("ok.mp3\n|in.png|l.txt\n")
        << names("l.txt");
}

void tst_CourseScanner::variableFileReferences()
{
    QFETCH(QByteArray, variables);
    QFETCH(Files, server);
    CourseScanner scan = scanner({ { QStringLiteral("variables_win.txt"), variables } }, server);
    QStringList found;
    scan.collectVariableFileReferences(courseFolder() + QStringLiteral("variables_win.txt"),
        QStringLiteral("/variables_win.txt"), found, QStringLiteral("http://u:p@127.0.0.1:1/tavelo/c/part.avx"));
    QTEST(found, "expected");
    QTEST(m_fetched, "fetched");
    QCOMPARE(m_wrongAddresses, QStringList());
}

QTEST_GUILESS_MAIN(tst_CourseScanner)
#include "tst_coursescanner.moc"
