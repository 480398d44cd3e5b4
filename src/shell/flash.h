// The one-second notice window: tells the user how an operation is about to
// run (a stored password, rich text, the second Hardcore pass).
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

class QLabel;
class QTimer;

namespace morvantile::shell {

// What the notice shows for a NoticeMode: the background and the two lines.
struct NoticeLook {
    QColor background;
    QString line1;
    QString line2;
};
// Mode 1 names the picked password-list entry in brackets when there is
// one; modes other than 1–3 keep the window's initial look.
NoticeLook notice_look(int mode, const QString& selected_entry);

class TfrmFlash : public QDialog {
    Q_OBJECT
public:
    TfrmFlash(int mode, const QString& selected_entry, QWidget* parent = nullptr);
    QString line1() const;
    QString line2() const;
    QColor background() const;
    static constexpr int kShowMilliseconds = 1000;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* Label1;
    QLabel* Label2;
    QTimer* Timer1;
};

}  // namespace morvantile::shell
