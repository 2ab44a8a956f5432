// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomElement>
#include <QImage>
#include <QObject>
#include <QRgb>
#include <QString>

class WebView;
class kestBranchManager;
class kestSubProject;

// One thing a learner sees and touches in a scene: a picture, a labelled button or a menu button,
// with the scripts that clicks, hovers and drops on it start. Lives on the GUI thread and is
// rebuilt each time its scene is entered.
class kestEntity : public QObject
{
    Q_OBJECT
public:
    explicit kestEntity(kestSubProject *owner);
    ~kestEntity() override;

    // Reads the entity from its element (kept for the scene) and makes the
    // managers of its click, select and release scripts.
    void load(const QDomElement &element);

    QString name() const { return m_name; }
    QString filename() const { return m_filename; }
    QString text() const { return m_text; }
    int effect() const { return m_effect; }
    int function() const { return m_function; }
    bool isActive() const { return m_active; }
    bool isDragDrop() const { return m_dragDrop; }
    QRgb descriptionColor() const { return m_descriptionColor; }
    int descriptionSize() const { return m_descriptionSize; }
    kestSubProject *subProject() const { return m_subProject; }
    QDomElement element() const { return m_element; }
    kestBranchManager *clickScript() const { return m_click; }
    kestBranchManager *selectScript() const { return m_select; }
    kestBranchManager *releaseScript() const { return m_release; }

    // The next value of the process-wide entity counter, which is never reset.
    static int nextId();

signals:
    void enterEntity();

public slots:
    void handleResults(QString value);
    bool getSelected() const { return m_selected; }
    void setSelected(bool value) { m_selected = value; }
    // Click: the entity's Script_Click (CLICK), or the scene's fixed slot named by Function.
    void kestRun();
    // Click with Script_Click at PROCEDURE priority, as menu entities use.
    void kestRun_MenuEntSpecial();
    bool hasKestTouch() const { return m_touched; }
    bool hasKestFocus() const { return m_focused; }
    void setKestTouch(bool touch, bool sendEvend);
    void setKestTouch(bool touch) { setKestTouch(touch, true); }
    void setKestFocus(bool focus) { m_focused = focus; }
    void setKestLeave() { runRelease(); }
    void setImage(QImage *image);
    void setLabelText(QString text) { m_labelText = text; }
    QString labelText() const { return m_labelText; }
    void setID(int id) { m_id = id; }
    int getID() const { return m_id; }
    void touchEntity(int id);
    void kestEnterEvent() { runSelect(); }
    void setWebView(WebView *wv) { m_webView = wv; }
    WebView *getWebView() const { return m_webView; }
    // Asks the scene to create this entity (menu entities at once, others with the next batch).
    void drawOnWv();
    void setActive(bool active) { m_active = active; }
    QString getName() const { return m_name; }

public:
    // Hover: Script_Select at SELECT priority. Drop onto the entity: Script_Release at CLICK.
    void runSelect();
    void runRelease();

private:
    void runClick(bool menuSpecial);

    kestSubProject *m_subProject;
    QString m_labelText;
    bool m_touched = false;
    bool m_focused = false;
    QString m_filename;
    QString m_name;
    int m_effect = 0;
    bool m_dragDrop = false;
    QString m_text;
    int m_descriptionSize = 0;
    QRgb m_descriptionColor = 0;
    int m_function = 0;
    bool m_selected = true;
    bool m_active = true;
    QImage m_image;
    kestBranchManager *m_click = nullptr;
    kestBranchManager *m_select = nullptr;
    kestBranchManager *m_release = nullptr;
    int m_id = 0;
    WebView *m_webView = nullptr;
    QDomElement m_element;
};
