#include "shell/flash.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/windows.h"

namespace morvantile::shell {

NoticeLook notice_look(int mode, const QString& selected_entry) {
    const QColor maroon(128, 0, 0);
    switch (mode) {
        case 1:
            return {maroon, QStringLiteral("Using stored password"),
                    selected_entry.isEmpty() ? QString() : QLatin1Char('[') + selected_entry + QLatin1Char(']')};
        case 2:
            return {QColor(128, 0, 128), QStringLiteral("Using rich text"), QString()};
        case 3:
            return {QColor(0, 0, 128), QStringLiteral("Using harcore mode"), QString()};
        default:
            return {maroon, QStringLiteral("Using stored password"), QString()};
    }
}

TfrmFlash::TfrmFlash(int mode, const QString& selected_entry, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Morvantile"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(220, 63);
    const NoticeLook look = notice_look(mode, selected_entry);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, look.background);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 6, 4, 6);
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSize(12);
    Label1 = new QLabel(look.line1, this);
    Label2 = new QLabel(look.line2, this);
    for (QLabel* label : {Label1, Label2}) {
        label->setFont(bold);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &QDialog::accept);
}

QString TfrmFlash::line1() const { return Label1->text(); }
QString TfrmFlash::line2() const { return Label2->text(); }
QColor TfrmFlash::background() const { return palette().color(QPalette::Window); }

void TfrmFlash::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    center_on_screen(this);
    Timer1->start(kShowMilliseconds);
    process_messages();
}

}  // namespace morvantile::shell
