#include "shell/rtf.h"

#include <QByteArrayView>
#include <QChar>
#include <QStringDecoder>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "cipher/wipe.h"
#include "shell/windows.h"

namespace morvantile::shell {

namespace {

// Word processors nest a few dozen groups at most. Deeper groups still pair
// their braces, but share the formatting state of the deepest saved one.
constexpr std::size_t kMaxDepth = 256;
// Font and colour tables larger than any real document; further entries
// are dropped.
constexpr std::size_t kMaxTableEntries = 4096;
constexpr qsizetype kMaxFontName = 256;
// Control words are at most 32 letters; a longer run of letters is no
// control word of any version and is ignored.
constexpr std::size_t kMaxWordLength = 32;
// Font sizes in half-points: 1 to 1638 points.
constexpr int kMinHalfPoints = 2;
constexpr int kMaxHalfPoints = 3276;
constexpr long long kMaxParameter = 2147483647LL;
// Text goes into the document in pieces of at most this many characters,
// so the buffer holding decrypted text never grows and leaves copies behind.
constexpr qsizetype kRunChunk = 1024;

constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kObjectReplacement = 0xFFFC;
constexpr char16_t kNoBreakSpace = 0x00A0;
constexpr char16_t kSoftHyphen = 0x00AD;
constexpr char16_t kNoBreakHyphen = 0x2011;

// The Western Windows code page, which word processors on both platforms
// write and the writer writes. Its five unassigned bytes keep their C1
// code points, as Windows itself reads them.
const QString& windows1252_table() {
    static const QString table = [] {
        std::string all(256, '\0');
        for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<char>(i);
        return decode_windows1252(all);
    }();
    return table;
}

// ---------------------------------------------------------------- code pages

// Rich text from a word processor on Windows is in the code page of the
// system it was written on (\ansicpg), and text in a font of another
// character set (\fcharset) is in that set's code page. The reader knows
// the Windows code pages of Central Europe, Cyrillic, Western, Greek,
// Turkish, Hebrew, Arabic, Baltic, Vietnamese and Thai, and the
// double-byte ones of Japanese, Simplified Chinese, Korean and Traditional
// Chinese; Qt's converters read them. Any other code page, and any the
// converters here do not offer, reads as Latin-1.

// Stands for Latin-1, the code page of symbol fonts and of every code page
// the reader does not know.
constexpr int kLatin1 = 0;

// The converter names of a code page, the closest match first; none for a
// code page the reader does not know. Western (1252) has its own table.
std::vector<const char*> converter_names(int code_page) {
    switch (code_page) {
        case 874: return {"windows-874"};
        case 932: return {"windows-31j", "Shift_JIS"};
        case 936: return {"windows-936", "GBK"};
        case 949: return {"windows-949"};
        case 950: return {"windows-950", "Big5"};
        case 1250: return {"windows-1250"};
        case 1251: return {"windows-1251"};
        case 1253: return {"windows-1253"};
        case 1254: return {"windows-1254"};
        case 1255: return {"windows-1255"};
        case 1256: return {"windows-1256"};
        case 1257: return {"windows-1257"};
        case 1258: return {"windows-1258"};
        case 1361: return {"windows-1361", "johab", "x-Johab"};
        default: return {};
    }
}

// The code page of a font's character set; -1 for the document's own.
int charset_code_page(int charset) {
    switch (charset) {
        case -1:  // no character set given
        case 0:   // ANSI: the document's code page
        case 1:   // the system's default, which wrote the document
            return -1;
        case 128: return 932;
        case 129: return 949;
        case 130: return 1361;  // Johab, read where a converter offers it
        case 134: return 936;
        case 136: return 950;
        case 161: return 1253;
        case 162: return 1254;
        case 163: return 1258;
        case 177: return 1255;
        case 178: return 1256;
        case 186: return 1257;
        case 204: return 1251;
        case 222: return 874;
        case 238: return 1250;
        default:  // symbol (2), Mac (77) and sets the reader does not know
            return kLatin1;
    }
}

bool known_code_page(int code_page) { return code_page == 1252 || !converter_names(code_page).empty(); }

// The bytes of one code page as characters. Bytes below 0x80 are ASCII in
// every code page the reader knows; they never get here.
class CodePage {
public:
    // Latin-1: each byte is the character of the same number.
    CodePage() {
        for (std::size_t b = 0; b < single_.size(); ++b) single_[b] = static_cast<char16_t>(b);
    }
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    // Null when the reader does not know the code page or no converter for
    // it is at hand.
    static std::unique_ptr<CodePage> open(int code_page) {
        auto page = std::make_unique<CodePage>();
        if (code_page == 1252) {
            const QString& table = windows1252_table();
            for (std::size_t b = 0x80; b < 0x100; ++b) page->single_[b] = table.at(static_cast<qsizetype>(b)).unicode();
            return page;
        }
        for (const char* name : converter_names(code_page)) {
            page->decoder_ = QStringDecoder(name);
            if (page->decoder_.isValid()) break;
        }
        if (!page->decoder_.isValid()) return nullptr;
        for (std::size_t b = 0x80; b < 0x100; ++b) {
            const char byte = static_cast<char>(b);
            page->decoder_.resetState();
            const QString u = page->decoder_.decode(QByteArrayView(&byte, 1));
            if (u.isEmpty()) {
                // The converter waits for the rest of the character.
                page->lead_.set(b);
            } else if (u.size() == 1 && is_character(u.at(0).unicode())) {
                page->single_[b] = u.at(0).unicode();
            } else {
                // A byte the code page leaves unassigned: in the C1 range
                // it keeps its code point, as Windows-1252's do.
                page->single_[b] = b < 0xA0 ? static_cast<char16_t>(b) : kReplacement;
            }
        }
        return page;
    }

    char16_t single(unsigned char byte) const { return single_[byte]; }
    // True when the byte begins a double-byte character.
    bool lead(unsigned char byte) const { return lead_[byte]; }

    // The character a lead byte and the byte after it make; 0 when they
    // make none.
    char16_t pair(unsigned char lead, unsigned char trail) {
        if (lead < 0x80 || !lead_[lead]) return 0;
        const std::size_t row = lead - 0x80u;
        if (pairs_.empty()) pairs_.assign(std::size_t{0x80} * 0x100, 0);
        if (!rows_[row]) {
            // A row of 256 conversions the first time a lead byte is met,
            // a look-up for every character after.
            rows_.set(row);
            char bytes[2] = {static_cast<char>(lead), 0};
            for (std::size_t t = 0; t < 0x100; ++t) {
                bytes[1] = static_cast<char>(t);
                decoder_.resetState();
                const QString u = decoder_.decode(QByteArrayView(bytes, 2));
                pairs_[row * 0x100 + t] = u.size() == 1 && is_character(u.at(0).unicode()) ? u.at(0).unicode() : 0;
            }
        }
        return pairs_[row * 0x100 + trail];
    }

private:
    // The converters mark bytes they cannot read with U+FFFD or, for some
    // code pages, with the ASCII substitute character.
    static bool is_character(char16_t u) { return u != kReplacement && u != 0x1A && u != 0; }

    std::array<char16_t, 256> single_{};
    std::bitset<256> lead_;
    QStringDecoder decoder_;
    // The double-byte characters, 256 for each lead byte from 0x80 on.
    std::vector<char16_t> pairs_;
    std::bitset<0x80> rows_;  // the lead bytes whose row is filled
};

// ---------------------------------------------------------------- reader

enum class Dest { Text, Skip, FontTable, ColorTable };
enum class Align { Unset, Left, Center, Right, Justify };

struct CharProps {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    int half_points = 0;  // 0: the document's own size
    int font = -1;        // -1: the default font (\deff)
    int color = 0;        // 0: the automatic colour
    friend bool operator==(const CharProps&, const CharProps&) = default;
};

struct GroupState {
    CharProps chars;
    Dest dest = Dest::Text;
    int uc = 1;  // fallback characters after each \u
    Align align = Align::Unset;
};

enum class Word {
    // text
    Par, Line, Tab, Char,
    // character formatting
    Bold, Italic, Underline, UnderlineOff, Strike, Hidden, Plain, FontSize, Font, Color,
    // paragraph formatting
    Pard, AlignLeft, AlignCenter, AlignRight, AlignJustify,
    // document and encoding
    DefaultFont, CodePage, Ansi, OtherCharset, FontCharset, FontCodePage, UnicodeSkip, Unicode, Binary,
    Red, Green, Blue,
    // destinations
    FontTable, ColorTable, Skipped,
};

struct WordInfo {
    Word word;
    char16_t ch = 0;  // for Word::Char
};

const std::unordered_map<std::string_view, WordInfo>& word_table() {
    static const std::unordered_map<std::string_view, WordInfo> table = [] {
        std::unordered_map<std::string_view, WordInfo> t;
        for (std::string_view w : {"par", "sect", "page", "row", "nestrow"}) t[w] = {Word::Par};
        t["line"] = {Word::Line};
        // A table cell ends where a tab would.
        for (std::string_view w : {"tab", "cell", "nestcell"}) t[w] = {Word::Tab};
        const std::pair<std::string_view, char16_t> chars[] = {
            {"emdash", 0x2014},   {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018},
            {"rquote", 0x2019},   {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"emspace", 0x2003},
            {"enspace", 0x2002},  {"qmspace", 0x2005},
        };
        for (const auto& [w, ch] : chars) t[w] = {Word::Char, ch};
        t["b"] = {Word::Bold};
        t["i"] = {Word::Italic};
        for (std::string_view w : {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash",
                                   "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash",
                                   "ululdbwave", "ulw", "ulwave"})
            t[w] = {Word::Underline};
        t["ulnone"] = {Word::UnderlineOff};
        t["strike"] = {Word::Strike};
        t["striked"] = {Word::Strike};
        t["v"] = {Word::Hidden};
        t["plain"] = {Word::Plain};
        t["fs"] = {Word::FontSize};
        t["f"] = {Word::Font};
        t["cf"] = {Word::Color};
        t["pard"] = {Word::Pard};
        t["ql"] = {Word::AlignLeft};
        t["qc"] = {Word::AlignCenter};
        t["qr"] = {Word::AlignRight};
        t["qj"] = {Word::AlignJustify};
        t["deff"] = {Word::DefaultFont};
        t["ansicpg"] = {Word::CodePage};
        t["ansi"] = {Word::Ansi};
        for (std::string_view w : {"mac", "pc", "pca"}) t[w] = {Word::OtherCharset};
        t["fcharset"] = {Word::FontCharset};
        t["cpg"] = {Word::FontCodePage};
        t["uc"] = {Word::UnicodeSkip};
        t["u"] = {Word::Unicode};
        t["bin"] = {Word::Binary};
        t["red"] = {Word::Red};
        t["green"] = {Word::Green};
        t["blue"] = {Word::Blue};
        t["fonttbl"] = {Word::FontTable};
        t["colortbl"] = {Word::ColorTable};
        // Destinations that hold no text of the document (or only a
        // picture of it), and the field instruction, whose result follows
        // in \fldrslt.
        for (std::string_view w :
             {"info", "stylesheet", "pict", "object", "objdata", "header", "headerl", "headerr", "headerf",
              "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "atnid", "atnauthor",
              "fldinst", "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl",
              "listtable", "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl", "pgdsctbl",
              "userprops", "docvar", "template", "bkmkstart", "bkmkend", "xe", "tc", "txe", "fontemb",
              "fontfile", "falt", "panose", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn",
              "mmathPr", "wgrffmtfilter", "pnseclvl", "nonshppict", "shpinst", "comment", "author", "title",
              "subject", "operator", "keywords", "doccomm", "company", "creatim", "revtim", "printim",
              "buptim", "passwordhash", "protusertbl", "formfield", "datafield", "ud"})
            t[w] = {Word::Skipped};
        return t;
    }();
    return table;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(std::string_view in, QTextDocument& document) : in_(in), cursor_(&document) {
        run_.reserve(kRunChunk);
    }
    ~Reader() { wipe(run_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void run() {
        while (pos_ < in_.size() && !done_) {
            const char c = in_[pos_];
            switch (c) {
                case '{':
                    ++pos_;
                    open_group();
                    break;
                case '}':
                    ++pos_;
                    close_group();
                    break;
                case '\\':
                    control();
                    break;
                case '\r':
                case '\n':
                    ++pos_;  // line ends in the markup are not text
                    break;
                default:
                    ++pos_;
                    text_byte(static_cast<unsigned char>(c));
                    break;
            }
        }
        finish();
    }

private:
    // Zeroes the text, keeping the buffer for the next run.
    static void wipe(QString& s) {
        std::fill(s.begin(), s.end(), QChar(u'\0'));
        s.resize(0);
    }

    void open_group() {
        settle_lead();
        skip_ = 0;
        if (stack_.size() < kMaxDepth) {
            stack_.push_back(cur_);
        } else {
            ++excess_;
        }
    }

    void close_group() {
        settle_lead();
        skip_ = 0;
        if (excess_ > 0) {
            --excess_;
            return;
        }
        if (stack_.empty()) {
            done_ = true;
            return;
        }
        // A font entry may end with its group instead of a semicolon.
        if (cur_.dest == Dest::FontTable && !font_name_.isEmpty()) store_font();
        if (stack_.size() == 1) {
            // The outermost group has closed: the document ends here, and
            // its last paragraph keeps the formatting in force at the end.
            done_ = true;
            return;
        }
        cur_ = stack_.back();
        stack_.pop_back();
    }

    void control() {
        ++pos_;  // the backslash
        if (pos_ >= in_.size()) return;
        const char c = in_[pos_];
        // Escaped braces and backslashes are bytes of text, so they may
        // be the second byte of a double-byte character.
        if (c != '\'' && c != '\\' && c != '{' && c != '}') settle_lead();
        if (is_letter(c)) {
            control_word();
            return;
        }
        ++pos_;
        switch (c) {
            case '\'':
                hex_char();
                break;
            case '\\':
            case '{':
            case '}':
                text_byte(static_cast<unsigned char>(c));
                break;
            case '~':
                if (!fallback()) deliver(kNoBreakSpace);
                break;
            case '-':
                if (!fallback()) deliver(kSoftHyphen);
                break;
            case '_':
                if (!fallback()) deliver(kNoBreakHyphen);
                break;
            case '*':
                // A destination a reader may ignore; none of them holds text
                // that belongs in the viewer.
                cur_.dest = Dest::Skip;
                break;
            case '\r':
            case '\n':
                paragraph();
                break;
            default:
                break;  // other control symbols show nothing
        }
    }

    void hex_char() {
        const int hi = pos_ < in_.size() ? hex_value(in_[pos_]) : -1;
        const int lo = hi >= 0 && pos_ + 1 < in_.size() ? hex_value(in_[pos_ + 1]) : -1;
        if (lo < 0) {
            // A broken escape shows nothing, and is no byte of a character.
            if (hi >= 0) ++pos_;
            settle_lead();
            return;
        }
        pos_ += 2;
        text_byte(static_cast<unsigned char>(hi * 16 + lo));
    }

    void control_word() {
        const std::size_t start = pos_;
        while (pos_ < in_.size() && is_letter(in_[pos_])) ++pos_;
        const std::size_t length = pos_ - start;
        bool negative = false;
        if (pos_ + 1 < in_.size() && in_[pos_] == '-' && is_digit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        bool has_param = false;
        long long value = 0;
        while (pos_ < in_.size() && is_digit(in_[pos_])) {
            has_param = true;
            value = std::min(value * 10 + (in_[pos_] - '0'), kMaxParameter);
            ++pos_;
        }
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;  // the delimiter belongs to the word
        if (length > kMaxWordLength) return;
        const auto& table = word_table();
        const auto it = table.find(in_.substr(start, length));
        if (it == table.end()) return;
        const int param = static_cast<int>(negative ? -value : value);
        apply(it->second, has_param, param);
    }

    void apply(const WordInfo& info, bool has_param, int param) {
        const bool on = !has_param || param != 0;
        CharProps& chars = cur_.chars;
        switch (info.word) {
            case Word::Par:
                paragraph();
                break;
            case Word::Line:
                deliver(kLineSeparator);
                break;
            case Word::Tab:
                deliver(u'\t');
                break;
            case Word::Char:
                deliver(info.ch);
                break;
            case Word::Bold:
                chars.bold = on;
                break;
            case Word::Italic:
                chars.italic = on;
                break;
            case Word::Underline:
                chars.underline = on;
                break;
            case Word::UnderlineOff:
                chars.underline = false;
                break;
            case Word::Strike:
                chars.strike = on;
                break;
            case Word::Hidden:
                chars.hidden = on;
                break;
            case Word::Plain:
                chars = CharProps{};
                break;
            case Word::FontSize:
                chars.half_points = has_param && param > 0 ? std::clamp(param, kMinHalfPoints, kMaxHalfPoints) : 0;
                break;
            case Word::Font:
                if (!has_param) break;
                if (cur_.dest == Dest::FontTable) {
                    // An entry begins with its number; the character set of
                    // an entry that never ended does not carry over.
                    font_number_ = param;
                    font_charset_ = font_cpg_ = -1;
                } else {
                    chars.font = param;
                }
                break;
            case Word::Color:
                chars.color = has_param ? std::max(param, 0) : 0;
                break;
            case Word::Pard:
                cur_.align = Align::Unset;
                break;
            case Word::AlignLeft:
                cur_.align = Align::Left;
                break;
            case Word::AlignCenter:
                cur_.align = Align::Center;
                break;
            case Word::AlignRight:
                cur_.align = Align::Right;
                break;
            case Word::AlignJustify:
                cur_.align = Align::Justify;
                break;
            case Word::DefaultFont:
                if (has_param) default_font_ = param;
                break;
            case Word::CodePage:
                if (has_param) codepage_ = param;
                break;
            case Word::Ansi:
                codepage_ = 1252;
                break;
            case Word::OtherCharset:
                codepage_ = kLatin1;
                break;
            case Word::FontCharset:
                if (has_param && cur_.dest == Dest::FontTable) font_charset_ = std::max(param, 0);
                break;
            case Word::FontCodePage:
                if (has_param && cur_.dest == Dest::FontTable) font_cpg_ = std::max(param, 0);
                break;
            case Word::UnicodeSkip:
                if (has_param) cur_.uc = std::clamp(param, 0, 0xFFFF);
                break;
            case Word::Unicode:
                unicode(has_param, param);
                break;
            case Word::Binary: {
                // Raw bytes follow; their count is clamped to what is left.
                const std::size_t left = in_.size() - pos_;
                pos_ += has_param && param > 0 ? std::min(static_cast<std::size_t>(param), left) : 0;
                break;
            }
            case Word::Red:
                red_ = std::clamp(param, 0, 255);
                color_given_ = true;
                break;
            case Word::Green:
                green_ = std::clamp(param, 0, 255);
                color_given_ = true;
                break;
            case Word::Blue:
                blue_ = std::clamp(param, 0, 255);
                color_given_ = true;
                break;
            case Word::FontTable:
                cur_.dest = Dest::FontTable;
                break;
            case Word::ColorTable:
                cur_.dest = Dest::ColorTable;
                break;
            case Word::Skipped:
                cur_.dest = Dest::Skip;
                break;
        }
    }

    void unicode(bool has_param, int param) {
        if (!has_param) return;
        // Values above 32767 are written as negative 16-bit numbers.
        if (param < 0) param += 65536;
        if (param >= 0 && param <= 0xFFFF) deliver(static_cast<char16_t>(param));
        skip_ = cur_.uc;
    }

    // True when the character just read is the fallback of a \u character
    // and is dropped.
    bool fallback() {
        if (skip_ <= 0) return false;
        --skip_;
        return true;
    }

    // A byte of text: a character of the markup, a \'hh escape or an
    // escaped brace or backslash, read in the code page of its font.
    //
    // \uc counts the fallback of a \u character in bytes: each \'hh and
    // each character of the markup is one. A fallback that is a
    // double-byte character is two bytes (\uc2), but writers that count
    // characters write \uc1 for it; so a skipped lead byte always takes the
    // byte that completes it along, counting it only while the count
    // lasts. Either way the character after the fallback is kept.
    void text_byte(unsigned char byte) {
        CodePage& page = text_code_page();
        if (skipped_lead_ != 0) {
            const unsigned char lead = skipped_lead_;
            skipped_lead_ = 0;
            if (page.pair(lead, byte) != 0) {
                if (skip_ > 0) --skip_;
                return;
            }
        }
        if (lead_ != 0) {
            const unsigned char lead = lead_;
            lead_ = 0;
            if (const char16_t u = page.pair(lead, byte); u != 0) {
                deliver(u);
                return;
            }
            // A lead byte without its second byte is no character; the
            // byte after it is read on its own.
            deliver(kReplacement);
        }
        if (fallback()) {
            if (page.lead(byte)) skipped_lead_ = byte;
            return;
        }
        if (byte < 0x80) {
            deliver(byte);
        } else if (page.lead(byte)) {
            lead_ = byte;
        } else {
            deliver(page.single(byte));
        }
    }

    // The two bytes of a double-byte character follow each other; anything
    // else in between (a control word, a group, the end) leaves the first
    // one no character.
    void settle_lead() {
        skipped_lead_ = 0;
        if (lead_ == 0) return;
        lead_ = 0;
        deliver(kReplacement);
    }

    // The code page of the text being read: its font's, else the
    // document's. A font table entry's name is in the entry's own.
    CodePage& text_code_page() {
        if (cur_.dest == Dest::FontTable) return code_page(entry_code_page(font_charset_, font_cpg_));
        const int font = cur_.chars.font >= 0 ? cur_.chars.font : default_font_;
        if (page_ == nullptr || font != page_font_ || codepage_ != page_document_) {
            const auto it = fonts_.find(font);
            page_ = &code_page(it != fonts_.end() ? entry_code_page(it->second.charset, it->second.cpg) : codepage_);
            page_font_ = font;
            page_document_ = codepage_;
        }
        return *page_;
    }

    // A font's \cpg, when the reader knows it, decides over its character set.
    int entry_code_page(int charset, int cpg) const {
        if (cpg >= 0 && known_code_page(cpg)) return cpg;
        const int page = charset_code_page(charset);
        return page >= 0 ? page : codepage_;
    }

    // At most one converter for each code page the reader knows, opened
    // when text first needs it.
    CodePage& code_page(int number) {
        if (!known_code_page(number)) return latin1_;
        auto [it, added] = code_pages_.try_emplace(number);
        if (added) it->second = CodePage::open(number);
        return it->second ? *it->second : latin1_;
    }

    void deliver(char16_t u) {
        switch (cur_.dest) {
            case Dest::Text:
                put(u);
                break;
            case Dest::FontTable:
                if (u == u';') {
                    store_font();
                } else if (font_name_.size() < kMaxFontName && u >= 0x20 && !QChar::isSurrogate(u)) {
                    font_name_.append(QChar(u));
                }
                break;
            case Dest::ColorTable:
                if (u == u';') store_color();
                break;
            case Dest::Skip:
                break;
        }
    }

    void put(char16_t u) {
        if (cur_.chars.hidden) return;
        // No control characters in the viewer (DEL included), and no object
        // placeholder, which the document would take for an embedded object:
        // what the viewer shows is what copying it gives.
        if ((u < 0x20 && u != u'\t') || u == 0x7F || u == 0xFFFC) return;
        if (u == kParagraphSeparator) {
            paragraph();
            return;
        }
        if (QChar::isLowSurrogate(u)) {
            if (high_surrogate_ != 0) {
                append(high_surrogate_);
                append(u);
                high_surrogate_ = 0;
            } else {
                append(kReplacement);
            }
            return;
        }
        settle_surrogate();
        if (QChar::isHighSurrogate(u)) {
            high_surrogate_ = u;
            return;
        }
        append(u);
    }

    // A high surrogate not followed by its low half is no character.
    void settle_surrogate() {
        if (high_surrogate_ == 0) return;
        high_surrogate_ = 0;
        append(kReplacement);
    }

    void append(char16_t u) {
        if (!run_.isEmpty() && (!(run_props_ == cur_.chars) || run_.size() >= kRunChunk)) flush();
        if (run_.isEmpty()) run_props_ = cur_.chars;
        run_.append(QChar(u));
    }

    void flush() {
        if (run_.isEmpty()) return;
        cursor_.insertText(run_, char_format(run_props_));
        wipe(run_);
    }

    void paragraph() {
        if (cur_.dest != Dest::Text) return;
        settle_surrogate();
        flush();
        cursor_.setBlockFormat(block_format());
        cursor_.insertBlock(QTextBlockFormat(), char_format(cur_.chars));
    }

    void finish() {
        settle_lead();
        settle_surrogate();
        flush();
        cursor_.setBlockFormat(block_format());
    }

    void store_font() {
        Font font{font_name_.trimmed(), font_charset_, font_cpg_};
        font_name_.clear();
        font_charset_ = font_cpg_ = -1;
        page_ = nullptr;  // a font's code page may have changed
        if (fonts_.size() < kMaxTableEntries || fonts_.count(font_number_) != 0) fonts_[font_number_] = std::move(font);
    }

    void store_color() {
        if (colors_.size() < kMaxTableEntries) colors_.push_back(color_given_ ? QColor(red_, green_, blue_) : QColor());
        red_ = green_ = blue_ = 0;
        color_given_ = false;
    }

    QTextCharFormat char_format(const CharProps& p) const {
        QTextCharFormat f;
        if (p.bold) f.setFontWeight(QFont::Bold);
        if (p.italic) f.setFontItalic(true);
        if (p.underline) f.setFontUnderline(true);
        if (p.strike) f.setFontStrikeOut(true);
        if (p.half_points > 0) f.setFontPointSize(p.half_points / 2.0);
        const int font = p.font >= 0 ? p.font : default_font_;
        if (const auto it = fonts_.find(font); it != fonts_.end() && !it->second.name.isEmpty())
            f.setFontFamilies(QStringList{it->second.name});
        if (p.color > 0 && static_cast<std::size_t>(p.color) < colors_.size() &&
            colors_[static_cast<std::size_t>(p.color)].isValid())
            f.setForeground(colors_[static_cast<std::size_t>(p.color)]);
        return f;
    }

    QTextBlockFormat block_format() const {
        QTextBlockFormat f;
        switch (cur_.align) {
            case Align::Unset:
                break;
            case Align::Left:
                f.setAlignment(Qt::AlignLeft);
                break;
            case Align::Center:
                f.setAlignment(Qt::AlignHCenter);
                break;
            case Align::Right:
                f.setAlignment(Qt::AlignRight);
                break;
            case Align::Justify:
                f.setAlignment(Qt::AlignJustify);
                break;
        }
        return f;
    }

    std::string_view in_;
    std::size_t pos_ = 0;
    bool done_ = false;
    QTextCursor cursor_;

    GroupState cur_;
    std::vector<GroupState> stack_;
    std::size_t excess_ = 0;  // open groups beyond kMaxDepth

    int codepage_ = 1252;  // the document's
    int default_font_ = -1;
    int skip_ = 0;  // fallback bytes still to drop after a \u
    unsigned char lead_ = 0;          // a lead byte waiting for its second byte
    unsigned char skipped_lead_ = 0;  // a lead byte dropped as fallback
    char16_t high_surrogate_ = 0;

    CodePage latin1_;
    std::map<int, std::unique_ptr<CodePage>> code_pages_;
    // The code page of the last font read in, and the document code page
    // then in force.
    CodePage* page_ = nullptr;
    int page_font_ = -1;
    int page_document_ = 0;

    struct Font {
        QString name;
        int charset = -1;  // -1: none given
        int cpg = -1;
    };
    std::map<int, Font> fonts_;
    int font_number_ = 0;
    QString font_name_;
    int font_charset_ = -1;  // of the entry being read
    int font_cpg_ = -1;
    std::vector<QColor> colors_;
    int red_ = 0, green_ = 0, blue_ = 0;
    bool color_given_ = false;

    QString run_;  // text not yet inserted, all in run_props_
    CharProps run_props_;
};

// ---------------------------------------------------------------- writer

// The byte of `u` in Windows-1252, or -1.
int windows1252_byte(char16_t u) {
    if (u < 0x80) return u;
    if (u >= 0xA0 && u <= 0xFF) return u;
    const QString& table = windows1252_table();
    for (int b = 0x80; b < 0xA0; ++b) {
        if (table.at(b).unicode() == u) return b;
    }
    return -1;
}

class Writer {
public:
    Writer(const QFont& default_font, const QColor& default_color)
        : default_font_(default_font), default_color_(default_color) {
        fonts_.push_back(default_font.family());
    }
    ~Writer() { wipe_string(body_); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The text from `start` to `end` of the document.
    void write(const QTextDocument& document, int start, int end) {
        // Room for the text and its formatting, so that the markup (which is
        // the text) is seldom copied while it grows.
        body_.reserve(body_.size() + static_cast<std::size_t>(end - start) * 2 + 256);
        bool first = true;
        for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() <= end;
             block = block.next()) {
            // A selection that ends just after a paragraph mark ends with
            // an empty paragraph, as the mark's own text would.
            if (!first) body_ += "\\par\r\n";
            first = false;
            body_ += "\\pard";
            const Qt::Alignment align = block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
            if (align & Qt::AlignHCenter) {
                body_ += "\\qc";
            } else if (align & Qt::AlignJustify) {
                body_ += "\\qj";
            } else if (align & (Qt::AlignRight | Qt::AlignTrailing)) {
                body_ += "\\qr";
            }
            for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid()) continue;
                const int from = std::max(start, fragment.position());
                const int to = std::min(end, fragment.position() + fragment.length());
                if (from >= to) continue;
                QString text = fragment.text().mid(from - fragment.position(), to - from);
                run(text, fragment.charFormat());
                std::fill(text.begin(), text.end(), QChar(u'\0'));
            }
        }
    }

    std::string markup() const {
        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl";
        // The body is the text; its copy is made once, without regrowing.
        out.reserve(fonts_.size() * 64 + colors_.size() * 32 + body_.size() + 64);
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 ";
            escape(fonts_[i], out, /*font_name=*/true);
            out += ";}";
        }
        out += "}";
        if (!colors_.empty()) {
            out += "{\\colortbl;";
            for (const QRgb c : colors_) {
                out += "\\red" + std::to_string(qRed(c)) + "\\green" + std::to_string(qGreen(c)) + "\\blue" +
                       std::to_string(qBlue(c)) + ";";
            }
            out += "}";
        }
        out += "\r\n";
        out += body_;
        out += "}";
        return out;
    }

private:
    void run(const QString& text, const QTextCharFormat& format) {
        const QFont font = format.font().resolve(default_font_);
        body_ += "{\\f" + std::to_string(font_index(font.family()));
        if (font.pointSizeF() > 0) {
            const long half = std::lround(font.pointSizeF() * 2);
            body_ += "\\fs" + std::to_string(std::clamp<long>(half, kMinHalfPoints, kMaxHalfPoints));
        }
        if (font.bold()) body_ += "\\b";
        if (font.italic()) body_ += "\\i";
        if (font.underline()) body_ += "\\ul";
        if (font.strikeOut()) body_ += "\\strike";
        const QBrush brush = format.foreground();
        const QColor color = brush.style() != Qt::NoBrush ? brush.color() : default_color_;
        if (color.isValid()) body_ += "\\cf" + std::to_string(color_index(color));
        body_ += ' ';
        escape(text, body_, /*font_name=*/false);
        body_ += '}';
    }

    std::size_t font_index(const QString& family) {
        const auto it = std::find(fonts_.begin(), fonts_.end(), family);
        if (it != fonts_.end()) return static_cast<std::size_t>(it - fonts_.begin());
        fonts_.push_back(family);
        return fonts_.size() - 1;
    }

    // Colour table entries count from 1; 0 is the automatic colour.
    std::size_t color_index(const QColor& color) {
        const QRgb rgb = color.rgb() & 0xFFFFFF;
        const auto it = std::find(colors_.begin(), colors_.end(), rgb);
        if (it != colors_.end()) return static_cast<std::size_t>(it - colors_.begin()) + 1;
        colors_.push_back(rgb);
        return colors_.size();
    }

    static void unicode_escape(char16_t u, std::string& out) {
        out += "\\u" + std::to_string(u > 0x7FFF ? static_cast<int>(u) - 65536 : static_cast<int>(u)) + "?";
    }

    static void escape(const QString& text, std::string& out, bool font_name) {
        static constexpr char kHex[] = "0123456789abcdef";
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t u = text.at(i).unicode();
            if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                unicode_escape(u, out);
                unicode_escape(text.at(++i).unicode(), out);
                continue;
            }
            if (QChar::isSurrogate(u)) continue;  // half a character is none
            switch (u) {
                case u'\\':
                case u'{':
                case u'}':
                    out += '\\';
                    out += static_cast<char>(u);
                    continue;
                case u';':
                    // The font table has no escape for its separator.
                    if (!font_name) out += ';';
                    continue;
                case u'\t':
                    if (!font_name) out += "\\tab ";
                    continue;
                case kLineSeparator:
                    if (!font_name) out += "\\line ";
                    continue;
                case kNoBreakSpace:
                    out += "\\~";
                    continue;
                case kSoftHyphen:
                    out += "\\-";
                    continue;
                case kNoBreakHyphen:
                    out += "\\_";
                    continue;
                case kParagraphSeparator:
                case kObjectReplacement:
                    continue;  // blocks are written as paragraphs; objects are not kept
                default:
                    break;
            }
            if (u < 0x20 || u == 0x7F) continue;
            if (u < 0x80) {
                out += static_cast<char>(u);
                continue;
            }
            const int byte = windows1252_byte(u);
            if (byte >= 0) {
                out += "\\'";
                out += kHex[byte >> 4];
                out += kHex[byte & 15];
            } else {
                unicode_escape(u, out);
            }
        }
    }

    QFont default_font_;
    QColor default_color_;
    std::vector<QString> fonts_;
    std::vector<QRgb> colors_;
    std::string body_;
};

std::string write_range(const QTextDocument& document, int start, int end, const QFont& default_font,
                        const QColor& default_color) {
    Writer writer(default_font, default_color);
    if (start < end) writer.write(document, start, end);
    return writer.markup();
}

}  // namespace

bool read_rtf(std::string_view rtf, QTextDocument& document) {
    if (!rtf.starts_with("{\\rtf")) return false;
    // The undo history would keep a second copy of the old text.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    document.clear();
    {
        Reader reader(rtf, document);
        reader.run();
    }
    document.setUndoRedoEnabled(undo);
    return true;
}

std::string write_rtf(const QTextDocument& document) {
    // The last position is the document's closing paragraph mark.
    return write_range(document, 0, document.characterCount() - 1, document.defaultFont(), QColor());
}

std::string write_rtf(const QTextDocumentFragment& fragment) {
    const QTextDocument plain;
    return write_rtf(fragment, plain.defaultFont());
}

std::string write_rtf(const QTextDocumentFragment& fragment, const QFont& default_font,
                      const QColor& default_color) {
    QTextDocument document;
    document.setDefaultFont(default_font);
    document.setUndoRedoEnabled(false);
    QTextCursor(&document).insertFragment(fragment);
    return write_range(document, 0, document.characterCount() - 1, default_font, default_color);
}

std::string write_rtf(const QTextCursor& selection, const QColor& default_color) {
    const QTextDocument* document = selection.document();
    if (!document) return write_range(QTextDocument(), 0, 0, QFont(), default_color);
    return write_range(*document, selection.selectionStart(), selection.selectionEnd(), document->defaultFont(),
                       default_color);
}

}  // namespace morvantile::shell
