// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestselect.h"
#include "ui_kestselect.h"

#include "kestlanguages.h"
#include "kestlog.h"
#include "kestpictures.h"

#include <QPixmap>
#include <QResizeEvent>

namespace {

// Everything is laid out for this size and scaled by the factors.
constexpr double DesignWidth = 1600.0;
constexpr double DesignHeight = 900.0;

QPixmap scaledPicture(const QString &path, int width, int height)
{
    return QPixmap(path).scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

KestSelect::KestSelect(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::KestSelect>())
    , m_selectedStyle(QStringLiteral(
          "background-color: white; border: 4px solid rgb(81,113,66); color: rgb(43, 73, 125); padding: 10px;"))
    , m_unselectedStyle(QStringLiteral("color: rgb(43, 73, 125); padding: 10px; border: 4px solid transparent;"))
{
    kestInitPictures();
    m_ui->setupUi(this);
    // The pictures are refreshed below, before any resize event has measured the window: start
    // from the size the form was built at so that the first sizing is already in proportion.
    m_widthFactor = DesignWidth / width();
    m_heightFactor = DesignHeight / height();
    on_pushButtonEng_clicked();
    connect(m_ui->pushButtonstart, &QPushButton::clicked, this, &KestSelect::acceptClicked);
}

KestSelect::~KestSelect() = default;

void KestSelect::on_pushButtonEng_clicked()
{
    selectLanguage(English);
}

void KestSelect::on_pushButtonBg_clicked()
{
    selectLanguage(Bulgarian);
}

void KestSelect::on_pushButtonCz_clicked()
{
    selectLanguage(Czech);
}

void KestSelect::on_pushButtonGer_clicked()
{
    selectLanguage(German);
}

void KestSelect::on_pushButtonLat_clicked()
{
    selectLanguage(Latvian);
}

void KestSelect::on_pushButtonLit_clicked()
{
    selectLanguage(Lithuanian);
}

void KestSelect::on_pushButtonexit_clicked()
{
    m_selectedCode = QStringLiteral("exit");
    close();
}

void KestSelect::acceptClicked()
{
    accept();
}

void KestSelect::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // An empty window has nothing to scale to; keep the last factors rather than divide by zero.
    if (width() <= 0 || height() <= 0)
        return;

    m_widthFactor = DesignWidth / width();
    m_heightFactor = DesignHeight / height();
    qCDebug(lcApp).noquote() << QStringLiteral("Factor to: ") + QString::number(m_widthFactor) + QStringLiteral(" x ")
            + QString::number(m_heightFactor);

    const int iconSide = int(128 / m_widthFactor);
    m_ui->pushButtonstart->setIconSize(QSize(iconSide, iconSide));
    m_ui->pushButtonexit->setIconSize(QSize(iconSide, iconSide));

    // A very small window would ask for a point size of 0, which QFont refuses.
    QFont font = m_ui->pushButtonBg->font();
    font.setPointSize(qMax(1, int(24 / m_widthFactor)));
    const QList<QPushButton *> buttons = languageButtons();
    for (QPushButton *button : buttons)
        button->setFont(font);

    refreshPictures();
    qCDebug(lcApp).noquote() << QStringLiteral("Resize to: ") + QString::number(514 / m_widthFactor)
            + QStringLiteral(" x ") + QString::number(120 / m_heightFactor);

    m_ui->label->setFixedSize(int(500 / m_widthFactor), int(133 / m_heightFactor));
    m_ui->gridLayout->setHorizontalSpacing(3);
    m_ui->gridLayout->setVerticalSpacing(3);
    m_ui->gridLayout_2->setHorizontalSpacing(3);
    m_ui->gridLayout_2->setVerticalSpacing(3);
}

void KestSelect::selectLanguage(Language language)
{
    // The table lists the languages in the order of the buttons.
    const kestLanguage &entry = kestLanguages::at(language);
    m_selectedCode = QLatin1String(entry.code);
    // The unselected style keeps a transparent border of the same width, so selecting a
    // language does not move the buttons.
    const QList<QPushButton *> buttons = languageButtons();
    for (int i = 0; i < buttons.size(); ++i)
        buttons.at(i)->setStyleSheet(i == language ? m_selectedStyle : m_unselectedStyle);
    m_logoPicture = QLatin1String(entry.logo);
    m_noticePicture = QLatin1String(entry.notice);
    refreshPictures();
}

void KestSelect::refreshPictures()
{
    const int width = int(514 / m_widthFactor);
    const int height = int(120 / m_heightFactor);
    m_ui->label_2->setPixmap(scaledPicture(m_logoPicture, width, height));
    m_ui->label_3->setPixmap(scaledPicture(m_noticePicture, width, height));
}

QList<QPushButton *> KestSelect::languageButtons() const
{
    // Same order as Language.
    return { m_ui->pushButtonEng, m_ui->pushButtonBg, m_ui->pushButtonCz, m_ui->pushButtonGer, m_ui->pushButtonLat,
        m_ui->pushButtonLit };
}
