#include "shell/errormsg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

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
    layout->addWidget(l_text, 1);
    auto* button = new QPushButton(QStringLiteral("Close"), this);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    l_text->setMaximumWidth(460);
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
