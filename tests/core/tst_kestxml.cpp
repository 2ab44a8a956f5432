// SPDX-License-Identifier: GPL-3.0-or-later
#include "deepxml.h"
#include "kestxml.h"
#include "sequentialdevice.h"

#include <QBuffer>
#include <QtTest>

namespace {

QByteArray nest(int depth)
{
    return QByteArray("<n>").repeated(depth) + QByteArray("</n>").repeated(depth);
}

} // namespace

class tst_KestXml : public QObject
{
    Q_OBJECT

private slots:
    void serialiseAsStreamReader_data();
    void serialiseAsStreamReader();
};

void tst_KestXml::serialiseAsStreamReader_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("maxDepth");
    QTest::addColumn<bool>("accepted");

    const int depth = kestXml::MaxDepth;
    QTest::newRow("declaration, attributes, empty elements") << QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<P a=\"1\" b='2'>\n <E/>\n <F x = \"y\" ></F>\n</P>\n")
                                                             << depth << true;
    QTest::newRow("text beside elements") << QByteArray("<P>a<b>c</b> d <e/>\n<f>\n</f></P>") << depth << true;
    QTest::newRow("entities and character references")
        << QByteArray("<P a=\"&lt;&amp;&quot;&#9;&#xa;&#13;]]&gt;\">&gt;&apos;&#x1F600;&#1114109;]]&gt;&#32;</P>")
        << depth << true;
    QTest::newRow("line ends and tabs") << QByteArray("<P a=\"x\r\ny\tz\nw\rv\">\r\n<Q>a\rb\r\n</Q>\r\n</P>\r\n")
                                        << depth << true;
    QTest::newRow("white space beside references") << QByteArray("<P> &amp; <Q> &#32; </Q>  \n </P>") << depth << true;
    QTest::newRow("comments") << QByteArray("<!-- head --><P><!----><!--a-b\n--></P><!-- tail -->") << depth << true;
    QTest::newRow("UTF-8") << QByteArray("<P a=\"\xc3\xa9\">Stra\xc3\x9f\x65 \xe2\x9c\x93 \xf0\x9f\x98\x80</P>")
                           << depth << true;
    QTest::newRow("CDATA, instruction, prefix, byte order mark")
        << QByteArray("\xef\xbb\xbf<P><![CDATA[<x>]]><?pi x?><x:y xmlns:x=\"u\"/></P>") << depth << true;
    QTest::newRow("longer than one read") << "<P>"
            + QByteArray("<E a=\"p\\1.png\" b='&amp;'>t\r\n&lt;<S>s.mp3,\xc3\xa9.wav</S><!-- c --></E>\n")
                  .repeated(20000)
            + "</P>" << depth << true;
    QTest::newRow("nested to the limit") << nest(4) << 4 << true;
    QTest::newRow("nested past the limit") << nest(5) << 4 << false;
    QTest::newRow("empty element past the limit") << QByteArray("<a><a><a/></a></a>") << 2 << false;
    QTest::newRow("end tags crossed") << QByteArray("<P><Q></P></Q>") << depth << false;
    QTest::newRow("]]> in text") << QByteArray("<P>a]]>b</P>") << depth << false;
    QTest::newRow("second root") << QByteArray("<P/><Q/>") << depth << false;
    QTest::newRow("text after the root") << QByteArray("<P/>x") << depth << false;
    QTest::newRow("duplicate attribute") << QByteArray("<P a=\"1\" b=\"2\" a=\"1\"/>") << depth << false;
    QTest::newRow("attributes run together") << QByteArray("<P a=\"1\"b=\"2\"/>") << depth << false;
    QTest::newRow("broken UTF-8") << QByteArray("<P>\xc3\x28</P>") << depth << false;
    QTest::newRow("surrogate reference") << QByteArray("<P>&#xD800;</P>") << depth << false;
    QTest::newRow("double hyphen in comment") << QByteArray("<P><!-- a -- b --></P>") << depth << false;
    QTest::newRow("not closed") << QByteArray("<P><Q></Q>") << depth << false;
    QTest::newRow("60,000 deep") << nest(60000) << depth << false;
    for (const auto &document : deepUnreadableDocuments())
        QTest::newRow(document.first) << document.second << depth << false;
}

void tst_KestXml::serialiseAsStreamReader()
{
    QFETCH(QByteArray, document);
    QFETCH(int, maxDepth);
    QBuffer seekable(&document);
    SequentialDevice sequential(document);
    QVERIFY(seekable.open(QIODevice::ReadOnly));
    QString plain;
    QString streamed;
    QTEST(kestXml::serialise(&sequential, streamed, nullptr, maxDepth), "accepted");
    QTEST(kestXml::serialise(&seekable, plain, nullptr, maxDepth), "accepted");
    QCOMPARE(plain, streamed);
}

QTEST_GUILESS_MAIN(tst_KestXml)
#include "tst_kestxml.moc"
