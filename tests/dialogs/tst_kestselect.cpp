// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestselect.h"

#include "kestpictures.h"

#include <QtTest>

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {

const char *const LanguageButtons[]
    = { "pushButtonEng", "pushButtonBg", "pushButtonCz", "pushButtonGer", "pushButtonLat", "pushButtonLit" };

QPushButton *button(const KestSelect &dialog, const char *name)
{
    return dialog.findChild<QPushButton *>(QLatin1String(name));
}

QLabel *label(const KestSelect &dialog, const char *name)
{
    return dialog.findChild<QLabel *>(QLatin1String(name));
}

QPixmap shownPixmap(const QLabel *label)
{
    return label->property("pixmap").value<QPixmap>();
}

QImage comparable(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Width of the "border:" declaration of a style sheet, -1 without one.
int borderWidth(const QString &styleSheet)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("border:\\s*(\\d+)px")).match(styleSheet);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Clicks a button from inside exec(), once the dialog's event loop runs.
void clickLater(KestSelect &dialog, const QStringList &buttonNames)
{
    QTimer::singleShot(0, &dialog, [&dialog, buttonNames] {
        for (const QString &name : buttonNames)
            dialog.findChild<QPushButton *>(name)->click();
    });
}

} // namespace

class tst_KestSelect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void form();
    void pictures_data();
    void pictures();
    void exec_data();
    void exec();
    void closeKeepsSelection();
    void selection_data();
    void selection();
    void selectionKeepsLayout();
    void resizing_data();
    void resizing();
};

void tst_KestSelect::initTestCase()
{
    kestInitPictures();
}

void tst_KestSelect::form()
{
    KestSelect dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("KestSelect"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Course Selection"));
    const QStringList names
        = { QStringLiteral("gridLayout_2"), QStringLiteral("gridLayout"), QStringLiteral("horizontalLayout"),
              QStringLiteral("widget"), QStringLiteral("label"), QStringLiteral("label_2"), QStringLiteral("label_3"),
              QStringLiteral("pushButtonexit"), QStringLiteral("pushButtonstart") };
    for (const QString &name : names)
        QVERIFY2(dialog.findChild<QObject *>(name), qPrintable(name));
    for (const char *name : LanguageButtons) {
        QPushButton *languageButton = button(dialog, name);
        QVERIFY2(languageButton, name);
        QVERIFY(languageButton->isFlat());
        QVERIFY(languageButton->font().underline());
    }

    auto *outer = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout_2"));
    QCOMPARE(dialog.layout(), outer);
    int left = -1, top = -1, right = -1, bottom = -1;
    outer->getContentsMargins(&left, &top, &right, &bottom);
    QCOMPARE(left, 0);
    QCOMPARE(right, 0);
    QVERIFY(top > 0 && bottom > 0);
}

void tst_KestSelect::pictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QSize patron(800, 176);
    QTest::newRow("product logo") << QStringLiteral(":/Resources/logo_tavelo.png") << QSize(500, 133);
    QTest::newRow("patron logo") << QStringLiteral(":/Resources/logo_patron.png") << patron;
    const char *const codes[] = { "en", "bg", "cz", "ger", "lat", "lit" };
    for (const char *code : codes) {
        const QString logo = QStringLiteral(":/Resources/eu/%1.png").arg(QLatin1String(code));
        const QString notice = QStringLiteral(":/Resources/eu/%1_t.png").arg(QLatin1String(code));
        QTest::newRow(qPrintable(logo)) << logo << patron;
        QTest::newRow(qPrintable(notice)) << notice << patron;
    }
    QTest::newRow("cancel") << QStringLiteral(":/Resources/Buttons/cancel.png") << QSize(612, 612);
    QTest::newRow("start") << QStringLiteral(":/Resources/Buttons/start.png") << QSize(612, 612);
}

void tst_KestSelect::pictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void tst_KestSelect::exec_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("code");
    const int accepted = QDialog::Accepted;
    const int rejected = QDialog::Rejected;
    const QString start = QStringLiteral("pushButtonstart");
    const QString exit = QStringLiteral("pushButtonexit");
    const QString german = QStringLiteral("pushButtonGer");
    QTest::newRow("start untouched") << QStringList { start } << accepted << QStringLiteral("eng");
    QTest::newRow("Deutsch, start") << QStringList { german, start } << accepted << QStringLiteral("ger");
    QTest::newRow("Deutsch, exit") << QStringList { german, exit } << rejected << QStringLiteral("exit");
    const QStringList several
        = { QStringLiteral("pushButtonBg"), QStringLiteral("pushButtonLit"), QStringLiteral("pushButtonCz"), start };
    QTest::newRow("last click counts") << several << accepted << QStringLiteral("cz");
}

void tst_KestSelect::exec()
{
    QFETCH(QStringList, clicks);
    QFETCH(int, result);
    QFETCH(QString, code);
    KestSelect dialog;
    clickLater(dialog, clicks);
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(dialog.selectedCode(), code);
}

void tst_KestSelect::closeKeepsSelection()
{
    // The window's own close control rejects the dialog but leaves the last language.
    KestSelect dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        button(dialog, "pushButtonLat")->click();
        dialog.close();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(dialog.selectedCode(), QStringLiteral("lat"));
}

void tst_KestSelect::selection_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("picture");
    const char *const codes[] = { "eng", "bg", "cz", "ger", "lat", "lit" };
    const char *const pictures[] = { "en", "bg", "cz", "ger", "lat", "lit" };
    for (int i = 0; i < 6; ++i)
        QTest::newRow(LanguageButtons[i]) << i << QString::fromLatin1(codes[i]) << QString::fromLatin1(pictures[i]);
}

void tst_KestSelect::selection()
{
    QFETCH(int, index);
    QFETCH(QString, code);
    QFETCH(QString, picture);
    KestSelect dialog;
    // Start from another language so that every row really changes the selection.
    button(dialog, LanguageButtons[(index + 1) % 6])->click();
    button(dialog, LanguageButtons[index])->click();
    QCOMPARE(dialog.selectedCode(), code);

    for (int i = 0; i < 6; ++i) {
        const QString style = button(dialog, LanguageButtons[i])->styleSheet();
        QCOMPARE(borderWidth(style), 4);
        QCOMPARE(style.contains(QLatin1String("background-color: white")), i == index);
        QCOMPARE(style.contains(QLatin1String("solid rgb(81,113,66)")), i == index);
        QCOMPARE(style.contains(QLatin1String("solid transparent")), i != index);
    }

    const QLabel *logo = label(dialog, "label_2");
    const QLabel *notice = label(dialog, "label_3");
    const QSize shown = shownPixmap(logo).size();
    QCOMPARE(shownPixmap(notice).size(), shown);
    const QPixmap expectedLogo(QStringLiteral(":/Resources/eu/%1.png").arg(picture));
    const QPixmap expectedNotice(QStringLiteral(":/Resources/eu/%1_t.png").arg(picture));
    QCOMPARE(comparable(shownPixmap(logo)),
        comparable(expectedLogo.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    QCOMPARE(comparable(shownPixmap(notice)),
        comparable(expectedNotice.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void tst_KestSelect::selectionKeepsLayout()
{
    KestSelect dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVector<QRect> before;
    for (const char *name : LanguageButtons)
        before << button(dialog, name)->geometry();
    for (const char *name : LanguageButtons) {
        button(dialog, name)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(button(dialog, LanguageButtons[i])->geometry(), before.at(i));
    }
}

void tst_KestSelect::resizing_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::addColumn<double>("widthFactor");
    QTest::addColumn<double>("heightFactor");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("points");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("logo");
    QTest::addColumn<QString>("factorLine");
    QTest::addColumn<QString>("resizeLine");
    QTest::newRow("half") << QSize(800, 450) << 2.0 << 2.0 << 64 << 12 << QSize(257, 60) << QSize(250, 66)
                          << QStringLiteral("Factor to: 2 x 2") << QStringLiteral("Resize to: 257 x 60");
    QTest::newRow("design") << QSize(1600, 900) << 1.0 << 1.0 << 128 << 24 << QSize(514, 120) << QSize(500, 133)
                            << QStringLiteral("Factor to: 1 x 1") << QStringLiteral("Resize to: 514 x 120");
    // Fractions are cut off, not rounded.
    QTest::newRow("1280x720") << QSize(1280, 720) << 1.25 << 1.25 << 102 << 19 << QSize(411, 96) << QSize(400, 106)
                              << QStringLiteral("Factor to: 1.25 x 1.25") << QStringLiteral("Resize to: 411.2 x 96");
    // Width and height scale independently; icons and fonts follow the width only.
    QTest::newRow("wide") << QSize(1600, 450) << 1.0 << 2.0 << 128 << 24 << QSize(514, 60) << QSize(500, 66)
                          << QStringLiteral("Factor to: 1 x 2") << QStringLiteral("Resize to: 514 x 60");
}

void tst_KestSelect::resizing()
{
    QFETCH(QSize, windowSize);
    QFETCH(double, widthFactor);
    QFETCH(double, heightFactor);
    QFETCH(int, icon);
    QFETCH(int, points);
    QFETCH(QSize, picture);
    QFETCH(QSize, logo);
    QFETCH(QString, factorLine);
    QFETCH(QString, resizeLine);

    KestSelect dialog;
    // The layout's minimum follows the contents at the size the form was built at; lift it so the
    // window can take the size under test, as a maximised window on a small screen would.
    dialog.setMinimumSize(1, 1);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(factorLine));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(resizeLine));
    dialog.resize(windowSize);
    QCOMPARE(dialog.size(), windowSize);

    QCOMPARE(dialog.widthFactor(), widthFactor);
    QCOMPARE(dialog.heightFactor(), heightFactor);
    QCOMPARE(button(dialog, "pushButtonstart")->iconSize(), QSize(icon, icon));
    QCOMPARE(button(dialog, "pushButtonexit")->iconSize(), QSize(icon, icon));
    for (const char *name : LanguageButtons) {
        const QFont font = button(dialog, name)->font();
        QCOMPARE(font.pointSize(), points);
        QVERIFY(font.underline());
    }
    QCOMPARE(shownPixmap(label(dialog, "label_2")).size(), picture);
    QCOMPARE(shownPixmap(label(dialog, "label_3")).size(), picture);
    const QLabel *productLogo = label(dialog, "label");
    QCOMPARE(productLogo->minimumSize(), logo);
    QCOMPARE(productLogo->maximumSize(), logo);
    auto *buttons = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QCOMPARE(buttons->horizontalSpacing(), 3);
    QCOMPARE(buttons->verticalSpacing(), 3);
}

QTEST_MAIN(tst_KestSelect)
#include "tst_kestselect.moc"
