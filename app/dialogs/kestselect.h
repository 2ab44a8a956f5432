// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

class QPushButton;
class QResizeEvent;

namespace Ui {
class KestSelect;
}

// The start-up dialog in which the learner picks the language version of the course. Its
// pictures, icons and fonts follow the window size, measured against a 1600 x 900 design.
class KestSelect : public QDialog
{
    Q_OBJECT
public:
    explicit KestSelect(QWidget *parent = nullptr);
    ~KestSelect() override;

    // "eng", "bg", "cz", "ger", "lat", "lit", or "exit" after the exit button. Valid whatever
    // exec() returned: closing the window keeps the last language.
    QString selectedCode() const { return m_selectedCode; }

    // Design size divided by the window size at the last resize.
    double widthFactor() const { return m_widthFactor; }
    double heightFactor() const { return m_heightFactor; }

public slots:
    void on_pushButtonEng_clicked();
    void on_pushButtonBg_clicked();
    void on_pushButtonCz_clicked();
    void on_pushButtonGer_clicked();
    void on_pushButtonLat_clicked();
    void on_pushButtonLit_clicked();
    void on_pushButtonexit_clicked();
    void acceptClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum Language { English, Bulgarian, Czech, German, Latvian, Lithuanian };

    void selectLanguage(Language language);
    void refreshPictures();
    QList<QPushButton *> languageButtons() const;

    std::unique_ptr<Ui::KestSelect> m_ui;
    QString m_selectedCode;
    QString m_selectedStyle;
    QString m_unselectedStyle;
    QString m_logoPicture;
    QString m_noticePicture;
    double m_widthFactor = 1.0;
    double m_heightFactor = 1.0;
};
