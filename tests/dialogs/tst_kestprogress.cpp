// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestprogress.h"

#include "kestpictures.h"

#include <QtTest>

#include <QLabel>
#include <QProgressBar>

namespace {

QImage comparable(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage shownPicture(const KestProgress &window)
{
    const QLabel *label = window.findChild<QLabel *>(QStringLiteral("label"));
    return comparable(label->property("pixmap").value<QPixmap>());
}

QImage picture(const QString &path)
{
    return comparable(QPixmap(path));
}

} // namespace

class tst_KestProgress : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pictures_data();
    void pictures();
    void form();
    void setLanguage_data();
    void setLanguage();
};

void tst_KestProgress::initTestCase()
{
    kestInitPictures();
}

void tst_KestProgress::pictures_data()
{
    QTest::addColumn<QString>("path");
    const char *const names[]
        = { "Download", "downloadGER", "downloadBG", "downloadCZ", "downloadEng", "downloadLat", "downloadLit" };
    for (const char *name : names)
        QTest::newRow(name) << QStringLiteral(":/Resources/%1.png").arg(QLatin1String(name));
}

void tst_KestProgress::pictures()
{
    QFETCH(QString, path);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(1600, 900));
    // Each language has a picture of its own, distinct from the neutral one.
    if (!path.endsWith(QLatin1String("/Download.png")))
        QVERIFY(comparable(QPixmap::fromImage(image)) != picture(QStringLiteral(":/Resources/Download.png")));
}

void tst_KestProgress::form()
{
    KestProgress window;
    QCOMPARE(window.objectName(), QStringLiteral("KestProgress"));
    QCOMPARE(window.size(), QSize(1620, 974));
    QVERIFY(!window.parent());
    QCOMPARE(shownPicture(window), picture(QStringLiteral(":/Resources/Download.png")));

    QProgressBar *overall = window.findChild<QProgressBar *>(QStringLiteral("progressBar_parts"));
    QProgressBar *files = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(overall);
    QVERIFY(files);
    QCOMPARE(window.overallBar(), overall);
    QCOMPARE(window.fileBar(), files);
    for (QProgressBar *bar : { overall, files }) {
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->accessibleName(), QStringLiteral("zero percent"));
    }

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!overall->isVisible());
    QVERIFY(files->isVisible());
}

void tst_KestProgress::setLanguage_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QString>("expected");
    const struct
    {
        const char *code;
        const char *picture;
    } languages[] = {
        { "ger", "downloadGER" },
        { "bg", "downloadBG" },
        { "cz", "downloadCZ" },
        { "eng", "downloadEng" },
        { "lat", "downloadLat" },
        { "lit", "downloadLit" },
    };
    for (const auto &language : languages)
        QTest::newRow(language.code) << QStringList { QLatin1String(language.code) }
                                     << QStringLiteral(":/Resources/%1.png").arg(QLatin1String(language.picture));
    const QString neutral = QStringLiteral(":/Resources/Download.png");
    QTest::newRow("exit") << QStringList { QStringLiteral("exit") } << neutral;
    QTest::newRow("empty") << QStringList { QString() } << neutral;
    QTest::newRow("codes are case-sensitive") << QStringList { QStringLiteral("GER") } << neutral;
    QTest::newRow("unknown code keeps the last picture")
        << QStringList { QStringLiteral("cz"), QStringLiteral("exit") } << QStringLiteral(":/Resources/downloadCZ.png");
    QTest::newRow("last language wins") << QStringList { QStringLiteral("cz"), QStringLiteral("lit") }
                                        << QStringLiteral(":/Resources/downloadLit.png");
}

void tst_KestProgress::setLanguage()
{
    QFETCH(QStringList, codes);
    QFETCH(QString, expected);
    KestProgress window;
    for (const QString &code : codes)
        window.setLanguage(code);
    QCOMPARE(shownPicture(window), picture(expected));
}

QTEST_MAIN(tst_KestProgress)
#include "tst_kestprogress.moc"
