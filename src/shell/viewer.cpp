#include "shell/viewer.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "cipher/wipe.h"
#include "shell/errormsg.h"
#include "shell/placement.h"
#include "shell/rtf.h"

namespace morvantile::shell {

namespace {

constexpr int kGutter = 10;  // pixels between the editor's left border and the text
constexpr int kMinPoints = 1;
constexpr int kMaxPoints = 1638;
// Quoting lets the window repaint after this many paragraphs.
constexpr int kQuoteLinesPerPaint = 64;

constexpr char kActivateFailed[] = "Failed to activate internal viewer window!";
constexpr char kCopyFailed[] = "Failed to copy text to clipboard!";
constexpr char kReadFailed[] = "Failed to read text from clipboard!";
constexpr char kNoSourceWindow[] = "ERROR: Cannot find original window!";

constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kObjectReplacement = 0xFFFC;

QString wordwrap_caption(bool on) {
    return on ? QStringLiteral("Wordwrap [on]") : QStringLiteral("Wordwrap [off]");
}

// The selection as plain text: one line per paragraph or line break, and
// no placeholders for embedded objects.
std::string plain_selection(const QTextCursor& cursor) {
    QString text = cursor.selectedText();
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u == kObjectReplacement) continue;
        text[kept++] = (u == kParagraphSeparator || u == kLineSeparator) ? QChar(u'\n') : QChar(u);
    }
    std::fill(text.begin() + kept, text.end(), QChar(u'\0'));
    text.truncate(kept);
    std::string bytes = to_bytes(text);
    wipe_qstring(text);
    return bytes;
}

// Clipboard text in the editor: CR LF and lone CR end lines as LF does.
void set_plain_text(QTextEdit& editor, std::string_view bytes) {
    QString text = to_qstring(bytes);
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n') continue;
            text[kept++] = QChar(u'\n');
        } else {
            text[kept++] = c;
        }
    }
    std::fill(text.begin() + kept, text.end(), QChar(u'\0'));
    text.truncate(kept);
    editor.setPlainText(text);
    wipe_qstring(text);
}

}  // namespace

QFont viewer_font(const ViewerFontSettings& f) {
    QFont font;
    if (!f.Name.empty()) font.setFamilies(QStringList{to_qstring(f.Name)});
    font.setPointSize(std::clamp(f.Size, kMinPoints, kMaxPoints));
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setUnderline(f.Underline);
    font.setStrikeOut(f.Strikeout);
    return font;
}

QColor viewer_font_color(const ViewerFontSettings& f) { return stored_colour(f.Color, QApplication::palette()); }

void store_viewer_font(const QFont& font, ViewerFontSettings& f) {
    f.Name = to_bytes(font.family());
    long points = std::lround(font.pointSizeF());
    if (points <= 0 && font.pixelSize() > 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        points = std::lround(font.pixelSize() * 72.0 / dpi);
    }
    f.Size = static_cast<std::int32_t>(std::clamp<long>(points, kMinPoints, kMaxPoints));
    f.Bold = font.bold();
    f.Italic = font.italic();
    f.Underline = font.underline();
    f.Strikeout = font.strikeOut();
}

Tfrm_decryptview::Tfrm_decryptview(ShellContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    const Settings& s = context_.settings;
    setWindowTitle(QString::fromLatin1(kViewerCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setMinimumSize(500, 300);
    resize(544, 375);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    MainMenu1 = new QMenuBar(this);
    // The one item belongs in the viewer, not in a desktop-wide menu bar.
    MainMenu1->setNativeMenuBar(false);
    menu_wordwrap = MainMenu1->addAction(wordwrap_caption(s.ViewerWrap));
    layout->setMenuBar(MainMenu1);

    // The wait notice takes the editor's place while quoting.
    auto* area = new QWidget(this);
    auto* stack = new QGridLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);
    memo1 = new QTextEdit(area);
    memo1->setAcceptRichText(true);
    l_wait = new QLabel(QStringLiteral("Working, please wait..."), area);
    QFont big = l_wait->font();
    big.setPointSize(20);
    big.setBold(true);
    l_wait->setFont(big);
    QPalette red = l_wait->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    l_wait->setPalette(red);
    l_wait->setAlignment(Qt::AlignCenter);
    l_wait->hide();
    stack->addWidget(memo1, 0, 0);
    stack->addWidget(l_wait, 0, 0);
    layout->addWidget(area, 1);

    Panel1 = new QWidget(this);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(6, 6, 6, 6);
    b_copy = new QPushButton(QStringLiteral("&Copy to clipboard"), Panel1);
    b_pasteoriginal = new QPushButton(QStringLiteral("&Paste to window"), Panel1);
    b_font = new QPushButton(QStringLiteral("Set &Font"), Panel1);
    b_quote = new QPushButton(QStringLiteral("&Quote text"), Panel1);
    b_close = new QPushButton(QStringLiteral("E&xit"), Panel1);
    for (QPushButton* b : {b_copy, b_pasteoriginal, b_font, b_quote, b_close}) {
        // Enter belongs to the editor, not to whichever button was last used.
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    row->addWidget(b_copy);
    row->addWidget(b_pasteoriginal);
    row->addWidget(b_font);
    row->addWidget(b_quote);
    row->addStretch(1);
    row->addWidget(b_close);
    layout->addWidget(Panel1);

    hints_.add(b_copy, std::string_view("Copies the selected text (or all text\r\nif none selected) to the clipboard"));
    hints_.add(b_pasteoriginal, std::string_view("Pastes the selected text (or all text\r\nif none selected) back "
                                                 "to the source\r\nwindow"));
    hints_.add(b_quote, std::string_view("Adds a 'quote' string to the beginning\r\nof every line of text. You can "
                                         "change\r\nthe quote string in the options dialog"));
    hints_.set_enabled(s.Hints);

    // The selection stays visible while another control has the focus.
    QPalette pal = memo1->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    memo1->setPalette(pal);
    apply_font(viewer_font(s.ViewerFont));
    set_wrap(s.ViewerWrap);

    connect(b_copy, &QPushButton::clicked, this, [this] { copymemotoclipboard(); });
    connect(b_pasteoriginal, &QPushButton::clicked, this, &Tfrm_decryptview::b_pasteoriginalClick);
    connect(b_font, &QPushButton::clicked, this, &Tfrm_decryptview::b_fontClick);
    connect(b_quote, &QPushButton::clicked, this, &Tfrm_decryptview::b_quoteClick);
    connect(b_close, &QPushButton::clicked, this, &QWidget::close);
    connect(menu_wordwrap, &QAction::triggered, this, &Tfrm_decryptview::menu_wordwrapClick);

    // Escape closes the viewer whichever control has the focus.
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
    setmemogutter();
}

Tfrm_decryptview::~Tfrm_decryptview() {
    // Drops the text and its undo history now rather than with the widgets.
    memo1->document()->clear();
}

void Tfrm_decryptview::setVisible(bool visible) {
    // The saved position is applied before the window first appears, so it
    // opens there instead of jumping from the centre.
    if (visible && !placed_) {
        placed_ = true;
        restore_placement(*this, context_.config, kPlacementViewer, /*fixed_border=*/false);
    }
    QDialog::setVisible(visible);
}

void Tfrm_decryptview::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (fill_scheduled_) return;
    fill_scheduled_ = true;
    // Filled from the event loop, once the window exists on the screen and
    // can become active.
    QTimer::singleShot(0, this, [this] {
        fillmemo();
        fill_done_ = true;
    });
}

void Tfrm_decryptview::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    setmemogutter();
}

bool Tfrm_decryptview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            close();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tfrm_decryptview::done(int /*result*/) {
    // Quoting lets events run; the viewer stays until it has finished.
    if (busy_) return;
    context_.settings.ViewerWrap = wrap_;
    if (placed_) save_placement(*this, context_.config, kPlacementViewer);
    QDialog::done(QDialog::Accepted);
}

bool Tfrm_decryptview::fillmemo() {
    forceforeground(this);
    memo1->setFocus();
    const QString caption = QString::fromLatin1(kViewerCaption);
    const auto active = [&] { return isActiveWindow() && findwindowbytitle(caption) == this; };
    QElapsedTimer clock;
    clock.start();
    while (!active() && clock.elapsed() < kActivateMilliseconds) {
        process_messages();
        if (!isVisible()) return false;  // closed meanwhile: nothing to fill
        if (!active()) QThread::msleep(10);
    }
    if (!active()) {
        show_message_window(kActivateFailed, this);
        return false;
    }

    std::string text;
    try {
        bool rich = false;
        if (context_.settings.UseRTF && context_.clipboard.rich_text_available()) {
            text = context_.clipboard.read_clipboard_text('e');
            rich = read_rtf(text, *memo1->document());
        }
        if (!rich) {
            // Markup that is no RTF after all: the plain text is shown.
            wipe_string(text);
            text = context_.clipboard.read_clipboard_text('d');
            set_plain_text(*memo1, text);
        }
    } catch (...) {
        wipe_string(text);
        show_message_window(kReadFailed, this);
        return false;
    }
    wipe_string(text);
    memo1->moveCursor(QTextCursor::Start);
    setmemogutter();
    return true;
}

void Tfrm_decryptview::setmemogutter() {
    QTextDocument* document = memo1->document();
    QTextFrame* root = document->rootFrame();
    QTextFrameFormat format = root->frameFormat();
    if (format.leftMargin() != kGutter) {
        // The margin is no edit of the text: it must not be an undo step.
        // It is only lost when the whole content is replaced, which clears
        // the undo history anyway.
        const bool undo = document->isUndoRedoEnabled();
        document->setUndoRedoEnabled(false);
        format.setLeftMargin(kGutter);
        root->setFrameFormat(format);
        document->setUndoRedoEnabled(undo);
    }
    memo1->viewport()->update();
}

bool Tfrm_decryptview::copymemotoclipboard() {
    memo1->setFocus();
    process_messages();
    std::string text;
    try {
        if (!memo1->textCursor().hasSelection()) memo1->selectAll();
        const QTextCursor selection = memo1->textCursor();
        if (context_.settings.UseRTF) {
            // Text in the viewer's own colour keeps it, unless that is the
            // system's text colour, which the receiving program has its own of.
            const QColor color = context_.settings.ViewerFont.Color == kColorWindowText
                                     ? QColor()
                                     : viewer_font_color(context_.settings.ViewerFont);
            text = write_rtf(selection, color);
        } else {
            text = plain_selection(selection);
        }
        context_.clipboard.write_clipboard_text(text, 'd');
    } catch (...) {
        wipe_string(text);
        show_message_window(kCopyFailed, this);
        return false;
    }
    wipe_string(text);
    return true;
}

void Tfrm_decryptview::b_pasteoriginalClick() {
    if (copymemotoclipboard()) {
        // Where the desktop alone moves the focus (Wayland), the source
        // window gets it back only once this window is gone; elsewhere the
        // source is brought forward either way.
        hide();
        process_messages();
        if (!context_.source.pasteback(context_.settings.AutoSelect_d)) show_message_window(kNoSourceWindow, this);
    }
    done(QDialog::Accepted);
}

void Tfrm_decryptview::b_quoteClick() {
    // With a selection the text is left as it is.
    if (memo1->textCursor().hasSelection() || busy_) return;
    busy_ = true;
    MainMenu1->setEnabled(false);
    Panel1->setEnabled(false);
    memo1->hide();
    l_wait->show();
    process_messages();

    // Every paragraph, and every line broken inside one, starts a line of
    // its own whatever the wrap, so each gets one quote string.
    QString prefix = to_qstring(context_.settings.QuoteString);
    prefix += QLatin1Char(' ');
    QTextDocument* document = memo1->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    const int lines = document->blockCount();
    for (int i = 0; i < lines; ++i) {
        const QTextBlock block = document->findBlockByNumber(i);
        if (!block.isValid()) break;
        // From the end, so the positions still to visit stay where they are.
        for (int p = block.position() + block.length() - 2; p >= block.position(); --p) {
            if (document->characterAt(p) == QChar(kLineSeparator)) {
                cursor.setPosition(p + 1);
                cursor.insertText(prefix);
            }
        }
        cursor.setPosition(block.position());
        cursor.insertText(prefix);
        if ((i + 1) % kQuoteLinesPerPaint == 0) process_messages();
    }
    cursor.endEditBlock();

    l_wait->hide();
    memo1->show();
    MainMenu1->setEnabled(true);
    Panel1->setEnabled(true);
    busy_ = false;
    memo1->setFocus();
    process_messages();
}

void Tfrm_decryptview::b_fontClick() {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, viewer_font(context_.settings.ViewerFont), this, QString(),
                                              QFontDialog::DontUseNativeDialog);
    if (ok) {
        store_viewer_font(chosen, context_.settings.ViewerFont);
        apply_font(chosen);
    }
    process_messages();
}

void Tfrm_decryptview::menu_wordwrapClick() {
    set_wrap(!wrap_);
    process_messages();
}

void Tfrm_decryptview::set_wrap(bool on) {
    wrap_ = on;
    memo1->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    memo1->setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    menu_wordwrap->setText(wordwrap_caption(on));
    setmemogutter();
}

void Tfrm_decryptview::apply_font(const QFont& font) {
    memo1->setFont(font);
    QPalette pal = memo1->palette();
    const QColor color = viewer_font_color(context_.settings.ViewerFont);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::Text, color);
    memo1->setPalette(pal);
    setmemogutter();
}

void showviewer(ShellContext& context, int pass, int passes) {
    if (ownDialogOpen()) return;
    // The first of two Hardcore passes leaves ciphertext, not the text.
    const bool intermediate = passes == 2 && pass == 1;
    {
        Tfrm_decryptview viewer(context);
        if (!intermediate) viewer.exec();
    }
    if (!intermediate) context.source.switchtosource();
}

}  // namespace morvantile::shell
