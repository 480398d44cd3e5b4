#include "shell/instructions.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/windows.h"

namespace morvantile::shell {

QStringList instructions() {
    return {
        QString(),
        QStringLiteral("This program comes without any warranty, to the extent permitted by law."),
        QStringLiteral("You use it entirely at your own risk: the authors accept no liability for"),
        QStringLiteral("lost data, lost passwords or any other damage arising from its use."),
        QString(),
        QStringLiteral("For detailed instructions, please consult the manual page morvantile(1) and the README."),
        QString(),
        QStringLiteral("To encrypt/decrypt text, click inside the text container (e.g. your email body text)"),
        QStringLiteral("and hit your encrypt hotkey (default is CTRL+SHIFT+F12). Do the same to decrypt"),
        QStringLiteral("(defaultkey combo is CTRL+SHIFT+F9). Or you can disable the automation features"),
        QStringLiteral("and control the process manually using CTRL+A to 'select all', CTRL+C to 'copy"),
        QStringLiteral("to clipboard', encrypt/decrypt via the hotkeys or rightclick on the tray icon, then"),
        QStringLiteral("CTRL+V to 'paste'."),
        QString(),
        QStringLiteral("Program right-click options:"),
        QStringLiteral("\tENCRYPT - encrypt the contents of the clipboard"),
        QStringLiteral("\tDECRYPT - decrypt the contents of the clipboard"),
        QStringLiteral("\tCLEAR PASSWORD - clears the stored password"),
        QStringLiteral("\tOPTIONS - shows the configuration dialog"),
        QString(),
        QStringLiteral("Command-line options:"),
        QStringLiteral("\t/nosplash - no splash screen on startup"),
        QStringLiteral("\t/noconfig - no configuration file used or created"),
        QStringLiteral("\t/config=FILENAME - creates or uses your custom config file"),
        QString(),
        QStringLiteral("e.g.\tmorvantile /nosplash /config=somefilename.txt"),
        QStringLiteral("\tmorvantile /nosplash /noconfig"),
        QString(),
        QStringLiteral("Morvantile uses Rijndael (AES) and other encryption standards. No passwords"),
        QStringLiteral("are stored; a lost password means the cyphertext cannot be decrypted."),
        QString(),
        QStringLiteral("Please report errors and suggestions on the Morvantile issue tracker named in the README."),
    };
}

TfrmInstructions::TfrmInstructions(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kInstructionsCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    auto* layout = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setPlainText(instructions().join(QLatin1Char('\n')));
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    Memo1->setPalette(pal);
    layout->addWidget(Memo1, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    // Wide enough for the longest line of the text at the usual font size.
    resize(600, 420);
}

QString TfrmInstructions::text() const { return Memo1->toPlainText(); }

void TfrmInstructions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    center_on_screen(this);
    forceforeground(this);
    Memo1->moveCursor(QTextCursor::Start);
}

}  // namespace morvantile::shell

namespace morvantile::shell {

// Escape and the close box do what the button does.
void TfrmInstructions::reject() { accept(); }

}  // namespace morvantile::shell
