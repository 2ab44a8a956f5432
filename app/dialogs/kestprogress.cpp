// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestprogress.h"
#include "ui_kestprogress.h"

#include "kestlanguages.h"
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
    if (const kestLanguage *language = kestLanguages::forCode(code))
        m_ui->label->setPixmap(QPixmap(QLatin1String(language->progressPicture)));
}

QProgressBar *KestProgress::overallBar() const
{
    return m_ui->progressBar_parts;
}

QProgressBar *KestProgress::fileBar() const
{
    return m_ui->progressBar;
}
