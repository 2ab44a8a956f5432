// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class QProgressBar;

namespace Ui {
class KestProgress;
}

// The window shown while a course is installed: a picture for the chosen language above the
// overall bar (kept hidden) and the bar counting the files of the current part.
class KestProgress : public QWidget
{
    Q_OBJECT
public:
    explicit KestProgress(QWidget *parent = nullptr);
    ~KestProgress() override;

    // Shows the picture of a language code ("ger", "bg", "cz", "eng", "lat", "lit"); any other
    // code leaves the picture as it is.
    void setLanguage(const QString &code);

    // The installer sets range, value and accessible name of both bars directly.
    QProgressBar *overallBar() const;
    QProgressBar *fileBar() const;

private:
    std::unique_ptr<Ui::KestProgress> m_ui;
};
