// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestprogress.h"
#include "ui_kestprogress.h"

#include "kestpictures.h"

#include <QPixmap>

KestProgress::KestProgress(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::KestProgress>())
{
    kestInitPictures();
    m_ui->setupUi(this);
    m_ui->progressBar_parts->hide();
}

KestProgress::~KestProgress() = default;

void KestProgress::setLanguage(const QString &code)
{
    struct LanguagePicture
    {
        const char *code;
        const char *picture;
    };
    static const LanguagePicture pictures[] = {
        { "ger", ":/Resources/downloadGER.png" },
        { "bg", ":/Resources/downloadBG.png" },
        { "cz", ":/Resources/downloadCZ.png" },
        { "eng", ":/Resources/downloadEng.png" },
        { "lat", ":/Resources/downloadLat.png" },
        { "lit", ":/Resources/downloadLit.png" },
    };
    for (const LanguagePicture &entry : pictures) {
        if (code == QLatin1String(entry.code)) {
            m_ui->label->setPixmap(QPixmap(QLatin1String(entry.picture)));
            return;
        }
    }
}

QProgressBar *KestProgress::overallBar() const
{
    return m_ui->progressBar_parts;
}

QProgressBar *KestProgress::fileBar() const
{
    return m_ui->progressBar;
}
