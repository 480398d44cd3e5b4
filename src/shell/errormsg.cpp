#include "shell/errormsg.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "shell/windows.h"

namespace morvantile::shell {

Tmessagedlg::Tmessagedlg(const QString& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kMessageWindowCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    auto* layout = new QVBoxLayout(this);
    l_text = new QLabel(text, this);
    l_text->setWordWrap(true);
    l_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l_text->setMinimumSize(281, 97);
    // As wide as the longest line (within most of the screen), so that a
    // message laid out in lines, like the hint after a failed decryption,
    // keeps them; only a longer line wraps.
    const QFontMetrics metrics(l_text->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line) + 2);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() * 3 / 4 : 900;
    const int width = std::clamp(widest, 281, std::max(281, limit));
    l_text->setMinimumWidth(width);
    l_text->setMaximumWidth(std::max(width, 460));
    layout->addWidget(l_text, 1);
    auto* button = new QPushButton(QStringLiteral("Close"), this);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Ctrl+C copies the whole message, so it can go into a problem report.
    auto* copy = new QShortcut(QKeySequence::Copy, this);
    connect(copy, &QShortcut::activated, this, [this] {
        const QString selected = l_text->selectedText();
        QGuiApplication::clipboard()->setText(selected.isEmpty() ? l_text->text() : selected);
    });
}

QString Tmessagedlg::text() const { return l_text->text(); }

void Tmessagedlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    center_on_screen(this);
    forceforeground(this);
}

bool show_message_window(std::string_view text, QWidget* over) {
    QString message = hint_text(text);
    Tmessagedlg dialog(message, over);
    dialog.exec();
    return true;
}

}  // namespace morvantile::shell

namespace morvantile::shell {

// Escape and the close box do what the button does.
void Tmessagedlg::reject() { accept(); }

}  // namespace morvantile::shell
