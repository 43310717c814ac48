#include "RtfReader.h"

#include "RtfCodePage.h"
#include "RtfTokenizer.h"
#include "Twips.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>
#include <utility>
#include <string_view>
#include <unordered_map>

namespace {

using namespace RtfReader;

enum class Destination : quint8 { Text, Skip, FontTable, ColourTable };

enum class Word : quint8 {
    // destinations
    FontTable, ColourTable, SkippedDestination, TextDestination,
    // document
    Ansi, Mac, Pc, Pca, AnsiCodePage, DefaultFont, UnicodeSkip, Unicode,
    // font table entries
    Font, Charset, CodePage,
    // colour table entries
    Red, Green, Blue,
    // paragraphs
    Par, Pard, Line, Tab, AlignLeft, AlignCentre, AlignRight, AlignJustify,
    LeftIndent, RightIndent, FirstIndent, SpaceBefore, SpaceAfter, LineSpacing, LineMultiple,
    TabStop, TabRight, TabCentre, TabDecimal, CellEnd, RowEnd,
    // characters
    Plain, Bold, Italic, Underline, UnderlineNone, Strike, Super, Sub, NoSuperSub, Caps, SmallCaps,
    Hidden, FontSize, Foreground, Background,
    // special characters
    Bullet, EmDash, EnDash, EmSpace, EnSpace, LeftQuote, RightQuote, LeftDoubleQuote, RightDoubleQuote,
};

const std::unordered_map<std::string_view, Word>& words()
{
    static const std::unordered_map<std::string_view, Word> table = [] {
        std::unordered_map<std::string_view, Word> t = {
            {"fonttbl", Word::FontTable}, {"colortbl", Word::ColourTable},
            // Destinations whose content is text, read as such: list bullets and numbers, field results.
            {"pntext", Word::TextDestination}, {"listtext", Word::TextDestination},
            {"fldrslt", Word::TextDestination}, {"field", Word::TextDestination},
            {"ansi", Word::Ansi}, {"mac", Word::Mac}, {"pc", Word::Pc}, {"pca", Word::Pca},
            {"ansicpg", Word::AnsiCodePage}, {"deff", Word::DefaultFont}, {"uc", Word::UnicodeSkip},
            {"u", Word::Unicode}, {"f", Word::Font}, {"fcharset", Word::Charset}, {"cpg", Word::CodePage},
            {"red", Word::Red}, {"green", Word::Green}, {"blue", Word::Blue},
            {"par", Word::Par}, {"sect", Word::Par}, {"page", Word::Par}, {"pard", Word::Pard},
            {"line", Word::Line}, {"tab", Word::Tab}, {"ql", Word::AlignLeft}, {"qc", Word::AlignCentre},
            {"qr", Word::AlignRight}, {"qj", Word::AlignJustify}, {"li", Word::LeftIndent},
            {"lin", Word::LeftIndent}, {"ri", Word::RightIndent}, {"rin", Word::RightIndent},
            {"fi", Word::FirstIndent}, {"sb", Word::SpaceBefore}, {"sa", Word::SpaceAfter},
            {"sl", Word::LineSpacing}, {"slmult", Word::LineMultiple}, {"tx", Word::TabStop},
            {"tqr", Word::TabRight}, {"tqc", Word::TabCentre}, {"tqdec", Word::TabDecimal},
            {"cell", Word::CellEnd}, {"row", Word::RowEnd},
            {"plain", Word::Plain}, {"b", Word::Bold}, {"i", Word::Italic}, {"ulnone", Word::UnderlineNone},
            {"strike", Word::Strike}, {"striked", Word::Strike}, {"super", Word::Super}, {"sub", Word::Sub},
            {"nosupersub", Word::NoSuperSub}, {"caps", Word::Caps}, {"scaps", Word::SmallCaps},
            {"v", Word::Hidden}, {"fs", Word::FontSize}, {"cf", Word::Foreground}, {"cb", Word::Background},
            {"highlight", Word::Background},
            {"bullet", Word::Bullet}, {"emdash", Word::EmDash}, {"endash", Word::EnDash},
            {"emspace", Word::EmSpace}, {"enspace", Word::EnSpace}, {"qmspace", Word::EnSpace},
            {"lquote", Word::LeftQuote}, {"rquote", Word::RightQuote},
            {"ldblquote", Word::LeftDoubleQuote}, {"rdblquote", Word::RightDoubleQuote},
        };
        // Every underline style reads as an underline (\ulc is the underline's colour, not a style).
        for (const char* w : {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash",
                              "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash",
                              "ululdbwave", "ulw", "ulwave"})
            t.emplace(w, Word::Underline);
        // Destinations that carry no text of the document, skipped with everything in them even when a
        // writer leaves out the \* in front.
        for (const char* w : {"stylesheet", "info", "pict", "fldinst", "object", "objdata", "objclass",
                              "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr",
                              "footerf", "footnote", "annotation", "atnid", "atnauthor", "xe", "tc", "txe",
                              "rxe", "pn", "pntxta", "pntxtb", "listtable", "listoverridetable", "revtbl",
                              "rsidtbl", "generator", "themedata", "colorschememapping", "latentstyles",
                              "datastore", "xmlnstbl", "filetbl", "private", "nonshppict", "shp",
                              "shpinst", "bkmkstart", "bkmkend", "template", "userprops", "docvar",
                              "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "pgdsctbl",
                              "keycode", "buptim", "comment", "creatim", "doccomm", "operator", "printim",
                              "revtim", "subject", "title", "author", "company", "category", "keywords",
                              "hlinkbase", "manager", "mmathPr", "passwordhash", "protusertbl"})
            t.emplace(w, Word::SkippedDestination);
        return t;
    }();
    return table;
}

struct CharState {
    int font = -1; // -1: the document's default font
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    quint8 vertical = 0; // 0 normal, 1 superscript, 2 subscript
    quint8 caps = 0;     // 0 as written, 1 capitals, 2 small capitals
    int foreground = 0;  // colour table index; an index without a colour leaves the default
    int background = 0;
    bool operator==(const CharState&) const = default;
};

struct ParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int left = 0; // twips
    int right = 0;
    int first = 0;
    int before = 0;
    int after = 0;
    int line = 0;
    bool lineMultiple = false;
    QList<QTextOption::Tab> tabs;
    QTextOption::TabType nextTabType = QTextOption::LeftTab;
    bool operator==(const ParaState&) const = default;
};

struct GroupState {
    Destination destination = Destination::Text;
    CharState chars;
    ParaState para;
    int unicodeSkip = 1;
};

struct Font {
    QString family;
    int codePage = 1252;
    // Symbol fonts hold pictures under Latin letters; their few list bullets are mapped to Unicode.
    enum class Symbols : quint8 { None, Symbol, Wingdings } symbols = Symbols::None;
};

struct Run {
    QString text;
    QTextCharFormat format;
};

struct Paragraph {
    QTextBlockFormat block;
    QTextCharFormat mark; // the format of the paragraph end, which gives an empty paragraph its height
    QList<Run> runs;
};

double pixels(int twips) { return double(twips) / Twips::perPixel; }
int clampTwips(int twips, int low = 0) { return std::clamp(twips, low, maxTwips); }

char16_t symbolCharacter(Font::Symbols symbols, unsigned char byte)
{
    if (symbols == Font::Symbols::Symbol && byte == 0xB7)
        return u'\u2022';
    if (symbols == Font::Symbols::Wingdings) {
        switch (byte) {
        case 0x6C: return u'\u25CF';
        case 0x6E: return u'\u25A0';
        case 0x71: return u'\u2751';
        case 0x76: return u'\u2756';
        case 0xA7: return u'\u25AA';
        case 0xD8: return u'\u27A2';
        case 0xFC: return u'\u2713';
        default: break;
        }
    }
    return 0;
}

// Characters that must not reach the document as text: control characters would show as boxes, and Qt
// keeps its own paragraph, frame and object marks in the text.
QString cleaned(QString text)
{
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c < 0x20 && c != u'\t')
            continue;
        if (c == 0x2029 || c == 0xFFFC || c == 0xFDD0 || c == 0xFDD1 || c == 0xFFFE || c == 0xFFFF)
            c = 0xFFFD;
        text[out++] = QChar(c);
    }
    text.truncate(out);
    return text;
}

// Surrogates arrive one \u at a time, so they are paired up once a run is complete.
void pairSurrogates(QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        else if (QChar::isSurrogate(c))
            text[i] = QChar::ReplacementCharacter;
    }
}

class Parser final {
public:
    explicit Parser(QByteArrayView data) : m_data(data) {}

    // Reads the whole input; false with m_error set when it cannot be read.
    bool run();
    void writeTo(QTextDocument& document) const;
    const QString& error() const { return m_error; }

private:
    bool fail(qsizetype offset, const QString& why);
    GroupState& state() { return m_stack.back(); }

    bool groupOpen(const RtfToken& token);
    void groupClose();
    bool controlWord(const RtfToken& token);
    void fontTableWord(Word word, const RtfToken& token);
    bool textWord(Word word, const RtfToken& token);
    void tableText(QByteArrayView bytes);
    void commitFont();

    bool appendBytes(QByteArrayView bytes, qsizetype offset);
    bool appendText(const QString& text, qsizetype offset);
    bool flush(qsizetype offset);
    bool endParagraph(qsizetype offset);
    bool count(qsizetype characters, qsizetype offset);

    const Font* font(int index) const;
    QTextCharFormat charFormat();
    QTextBlockFormat blockFormat();

    QByteArrayView m_data;
    QString m_error;
    QList<GroupState> m_stack;
    bool m_groupStart = false;  // the last token opened a group
    bool m_ignorable = false;   // ... and was followed by \*
    int m_skip = 0;             // fallback characters still to skip after \u

    int m_documentPage = 1252;
    int m_defaultFont = 0;
    QHash<int, Font> m_fonts;
    QList<std::optional<QColor>> m_colours;

    // The font table entry being read.
    int m_entryIndex = -1;
    int m_entryCharset = -1;
    int m_entryPage = -1;
    QByteArray m_entryName;
    // The colour table entry being read.
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colourGiven = false;

    // Text bytes not yet decoded; kept together so multi-byte code pages see whole characters.
    QByteArray m_pending;
    RtfCodePage m_page;

    bool m_formatValid = false;
    CharState m_formatState;
    QTextCharFormat m_format;

    bool m_blockValid = false;
    ParaState m_blockState;
    QTextBlockFormat m_block;

    QList<Paragraph> m_paragraphs;
    Paragraph m_current;
    qsizetype m_length = 0;
};

bool Parser::fail(qsizetype offset, const QString& why)
{
    m_error = QStringLiteral("RTF byte %1: %2").arg(offset).arg(why);
    return false;
}

bool Parser::run()
{
    if (m_data.isEmpty())
        return fail(0, QStringLiteral("the file is empty"));
    if (m_data.size() > maxInputBytes)
        return fail(0, QStringLiteral("%1 bytes is more than the %2 a help text may have")
                           .arg(m_data.size()).arg(maxInputBytes));
    qsizetype start = 0;
    while (start < m_data.size() && QChar::isSpace(static_cast<unsigned char>(m_data[start])))
        ++start;
    if (!m_data.sliced(start).startsWith("{\\rtf"))
        return fail(start, QStringLiteral("not rich text: it does not start with {\\rtf"));

    RtfTokenizer tokenizer(m_data, start);
    for (;;) {
        const RtfToken token = tokenizer.next();
        using Kind = RtfToken::Kind;
        if (token.kind == Kind::End)
            return fail(token.offset, QStringLiteral("the data ends inside %1 open group(s); the file is truncated")
                                          .arg(m_stack.size()));
        if (token.kind == Kind::Error)
            return fail(token.offset, token.error);
        if (token.kind == Kind::GroupOpen) {
            if (!groupOpen(token))
                return false;
            continue;
        }
        if (token.kind == Kind::GroupClose) {
            if (!flush(token.offset))
                return false;
            if (m_stack.size() == 1) {
                // The document's closing brace; anything after it is not part of the document.
                return m_current.runs.isEmpty() || endParagraph(token.offset);
            }
            groupClose();
            continue;
        }

        const bool atGroupStart = std::exchange(m_groupStart, false);
        if (token.kind == Kind::ControlSymbol && token.symbol == '*' && atGroupStart) {
            m_groupStart = true;
            m_ignorable = true;
            continue;
        }
        if (atGroupStart && state().destination != Destination::Skip) {
            const bool known = token.kind == Kind::ControlWord && words().count(std::string_view(
                                   token.word.data(), std::size_t(token.word.size())));
            if (m_ignorable && !known) {
                state().destination = Destination::Skip;
                continue;
            }
        }
        m_ignorable = false;
        if (state().destination == Destination::Skip)
            continue;

        if (m_skip > 0) {
            if (token.kind == Kind::Text && state().destination == Destination::Text) {
                const qsizetype skipped = std::min<qsizetype>(m_skip, token.text.size());
                m_skip -= int(skipped);
                if (skipped < token.text.size() && !appendBytes(token.text.sliced(skipped), token.offset))
                    return false;
            } else {
                --m_skip;
            }
            continue;
        }

        switch (token.kind) {
        case Kind::Text:
            if (state().destination == Destination::Text) {
                if (!appendBytes(token.text, token.offset))
                    return false;
            } else {
                tableText(token.text);
            }
            break;
        case Kind::HexByte: {
            const char byte = char(token.symbol);
            if (state().destination == Destination::Text) {
                if (!appendBytes(QByteArrayView(&byte, 1), token.offset))
                    return false;
            } else if (state().destination == Destination::FontTable && m_entryName.size() < maxFontNameBytes) {
                m_entryName.append(byte);
            }
            break;
        }
        case Kind::ControlWord:
            if (!controlWord(token))
                return false;
            break;
        case Kind::ControlSymbol: {
            if (state().destination != Destination::Text)
                break;
            if (token.symbol == '\\' || token.symbol == '{' || token.symbol == '}') {
                const char byte = char(token.symbol);
                if (!appendBytes(QByteArrayView(&byte, 1), token.offset))
                    return false;
                break;
            }
            QString special;
            switch (token.symbol) {
            case '~': special = QChar(0x00A0); break;
            case '-': special = QChar(0x00AD); break;
            case '_': special = QChar(0x2011); break;
            default: break;
            }
            if (!special.isEmpty() && (!flush(token.offset) || !appendText(special, token.offset)))
                return false;
            break;
        }
        default:
            break; // \bin data is never text of the document
        }
    }
}

bool Parser::groupOpen(const RtfToken& token)
{
    if (!flush(token.offset))
        return false;
    if (m_stack.size() >= maxGroupDepth)
        return fail(token.offset, QStringLiteral("groups are nested deeper than %1").arg(maxGroupDepth));
    m_stack.append(m_stack.isEmpty() ? GroupState{} : m_stack.back());
    m_groupStart = true;
    m_ignorable = false;
    m_skip = 0;
    return true;
}

void Parser::groupClose()
{
    const Destination closing = m_stack.back().destination;
    m_stack.removeLast();
    m_groupStart = false;
    m_ignorable = false;
    m_skip = 0;
    if (closing == Destination::FontTable)
        commitFont(); // an entry without its closing semicolon
}

bool Parser::controlWord(const RtfToken& token)
{
    const auto found = words().find(std::string_view(token.word.data(), std::size_t(token.word.size())));
    if (found == words().end())
        return true;
    const Word word = found->second;
    switch (word) {
    case Word::FontTable:
        state().destination = Destination::FontTable;
        return true;
    case Word::ColourTable:
        state().destination = Destination::ColourTable;
        return true;
    case Word::SkippedDestination:
        state().destination = Destination::Skip;
        return flush(token.offset);
    case Word::TextDestination:
        return true;
    default:
        break;
    }
    switch (state().destination) {
    case Destination::FontTable:
        fontTableWord(word, token);
        return true;
    case Destination::ColourTable: {
        const int value = std::clamp(token.parameter, 0, 255);
        if (word == Word::Red)
            m_red = value;
        else if (word == Word::Green)
            m_green = value;
        else if (word == Word::Blue)
            m_blue = value;
        else
            return true;
        m_colourGiven = true;
        return true;
    }
    case Destination::Text:
        return flush(token.offset) && textWord(word, token);
    case Destination::Skip:
        return true;
    }
    return true;
}

void Parser::fontTableWord(Word word, const RtfToken& token)
{
    switch (word) {
    case Word::Font:
        commitFont(); // a previous entry without its semicolon
        m_entryIndex = token.parameter;
        break;
    case Word::Charset:
        m_entryCharset = token.parameter;
        break;
    case Word::CodePage:
        m_entryPage = token.parameter;
        break;
    default:
        break;
    }
}

void Parser::tableText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (state().destination == Destination::FontTable) {
            if (c == ';')
                commitFont();
            else if (m_entryName.size() < maxFontNameBytes)
                m_entryName.append(c);
        } else if (state().destination == Destination::ColourTable && c == ';') {
            if (m_colours.size() < maxColours)
                m_colours.append(m_colourGiven ? std::optional(QColor(m_red, m_green, m_blue)) : std::nullopt);
            m_red = m_green = m_blue = 0;
            m_colourGiven = false;
        }
    }
}

void Parser::commitFont()
{
    const QByteArray name = m_entryName.trimmed();
    if (m_entryIndex >= 0 && !name.isEmpty() && (m_fonts.size() < maxFonts || m_fonts.contains(m_entryIndex))) {
        Font font;
        font.codePage = m_entryPage > 0 ? m_entryPage : RtfCodePage::forCharset(m_entryCharset, m_documentPage);
        font.family = RtfCodePage(font.codePage).decode(name);
        if (m_entryCharset == 2) {
            font.symbols = font.family.contains(QLatin1String("Wingdings"), Qt::CaseInsensitive)
                ? Font::Symbols::Wingdings : Font::Symbols::Symbol;
        }
        m_fonts.insert(m_entryIndex, font);
        m_formatValid = false;
    }
    m_entryIndex = m_entryCharset = m_entryPage = -1;
    m_entryName.clear();
}

bool Parser::textWord(Word word, const RtfToken& token)
{
    GroupState& s = state();
    CharState& c = s.chars;
    ParaState& p = s.para;
    const int n = token.parameter;
    const bool on = !token.hasParameter || n != 0;
    switch (word) {
    case Word::Ansi: m_documentPage = 1252; break;
    case Word::Mac: m_documentPage = 10000; break;
    case Word::Pc: m_documentPage = 437; break;
    case Word::Pca: m_documentPage = 850; break;
    case Word::AnsiCodePage: m_documentPage = RtfCodePage(n).number(); break;
    case Word::DefaultFont: m_defaultFont = n; m_formatValid = false; break;
    case Word::UnicodeSkip: s.unicodeSkip = std::clamp(n, 0, maxUnicodeSkip); break;
    case Word::Unicode: {
        if (!token.hasParameter)
            break;
        // Values above 32767 are written as negative 16-bit numbers.
        const int unit = n < 0 ? n + 65536 : n;
        const QChar character = unit >= 0 && unit <= 0xFFFF ? QChar(char16_t(unit)) : QChar(QChar::ReplacementCharacter);
        if (!c.hidden && !appendText(QString(character), token.offset))
            return false;
        m_skip = s.unicodeSkip;
        break;
    }
    case Word::Font: c.font = n; break;
    case Word::Par: return endParagraph(token.offset);
    case Word::RowEnd: return endParagraph(token.offset);
    case Word::Pard: p = ParaState{}; break;
    case Word::Line: return c.hidden || appendText(QString(QChar(QChar::LineSeparator)), token.offset);
    case Word::Tab:
    case Word::CellEnd: return c.hidden || appendText(QStringLiteral("\t"), token.offset);
    case Word::AlignLeft: p.alignment = Qt::AlignLeft; break;
    case Word::AlignCentre: p.alignment = Qt::AlignHCenter; break;
    case Word::AlignRight: p.alignment = Qt::AlignRight; break;
    case Word::AlignJustify: p.alignment = Qt::AlignJustify; break;
    case Word::LeftIndent: p.left = clampTwips(n, -maxTwips); break;
    case Word::RightIndent: p.right = clampTwips(n, -maxTwips); break;
    case Word::FirstIndent: p.first = clampTwips(n, -maxTwips); break;
    case Word::SpaceBefore: p.before = clampTwips(n); break;
    case Word::SpaceAfter: p.after = clampTwips(n); break;
    case Word::LineSpacing: p.line = clampTwips(n, -maxTwips); break;
    case Word::LineMultiple: p.lineMultiple = on; break;
    case Word::TabRight: p.nextTabType = QTextOption::RightTab; break;
    case Word::TabCentre: p.nextTabType = QTextOption::CenterTab; break;
    case Word::TabDecimal: p.nextTabType = QTextOption::DelimiterTab; break;
    case Word::TabStop:
        if (p.tabs.size() < maxTabStops)
            p.tabs.append(QTextOption::Tab(pixels(clampTwips(n)), p.nextTabType,
                                           p.nextTabType == QTextOption::DelimiterTab ? QChar(u'.') : QChar()));
        p.nextTabType = QTextOption::LeftTab;
        break;
    case Word::Plain: c = CharState{}; break;
    case Word::Bold: c.bold = on; break;
    case Word::Italic: c.italic = on; break;
    case Word::Underline: c.underline = on; break;
    case Word::UnderlineNone: c.underline = false; break;
    case Word::Strike: c.strike = on; break;
    case Word::Super: c.vertical = 1; break;
    case Word::Sub: c.vertical = 2; break;
    case Word::NoSuperSub: c.vertical = 0; break;
    case Word::Caps: c.caps = on ? 1 : 0; break;
    case Word::SmallCaps: c.caps = on ? 2 : 0; break;
    case Word::Hidden: c.hidden = on; break;
    case Word::FontSize:
        c.halfPoints = token.hasParameter ? std::clamp(n, minFontHalfPoints, maxFontHalfPoints) : 24;
        break;
    case Word::Foreground: c.foreground = n; break;
    case Word::Background: c.background = n; break;
    case Word::Bullet: return c.hidden || appendText(QString(QChar(0x2022)), token.offset);
    case Word::EmDash: return c.hidden || appendText(QString(QChar(0x2014)), token.offset);
    case Word::EnDash: return c.hidden || appendText(QString(QChar(0x2013)), token.offset);
    case Word::EmSpace: return c.hidden || appendText(QString(QChar(0x2003)), token.offset);
    case Word::EnSpace: return c.hidden || appendText(QString(QChar(0x2002)), token.offset);
    case Word::LeftQuote: return c.hidden || appendText(QString(QChar(0x2018)), token.offset);
    case Word::RightQuote: return c.hidden || appendText(QString(QChar(0x2019)), token.offset);
    case Word::LeftDoubleQuote: return c.hidden || appendText(QString(QChar(0x201C)), token.offset);
    case Word::RightDoubleQuote: return c.hidden || appendText(QString(QChar(0x201D)), token.offset);
    default: break;
    }
    return true;
}

const Font* Parser::font(int index) const
{
    const auto found = m_fonts.constFind(index < 0 ? m_defaultFont : index);
    return found == m_fonts.constEnd() ? nullptr : &found.value();
}

bool Parser::appendBytes(QByteArrayView bytes, qsizetype offset)
{
    if (state().chars.hidden)
        return true;
    // Decoding never makes more characters than bytes, so the pending bytes count as characters.
    if (m_length + m_pending.size() + bytes.size() > maxTextLength)
        return count(m_pending.size() + bytes.size(), offset);
    m_pending.append(bytes);
    return true;
}

bool Parser::flush(qsizetype offset)
{
    if (m_pending.isEmpty())
        return true;
    const Font* f = m_stack.isEmpty() ? nullptr : font(state().chars.font);
    QString text;
    if (f && f->symbols != Font::Symbols::None) {
        text.reserve(m_pending.size());
        for (const char b : std::as_const(m_pending)) {
            const char16_t mapped = symbolCharacter(f->symbols, static_cast<unsigned char>(b));
            text.append(mapped ? QChar(mapped) : QChar(char16_t(static_cast<unsigned char>(b))));
        }
    } else {
        const int page = f ? f->codePage : m_documentPage;
        if (m_page.number() != page)
            m_page = RtfCodePage(page);
        text = m_page.decode(m_pending);
    }
    m_pending.clear();
    return appendText(text, offset);
}

bool Parser::appendText(const QString& raw, qsizetype offset)
{
    const QString text = cleaned(raw);
    if (text.isEmpty())
        return true;
    if (!count(text.size(), offset))
        return false;
    const QTextCharFormat format = charFormat();
    if (!m_current.runs.isEmpty() && m_current.runs.back().format == format)
        m_current.runs.back().text += text;
    else
        m_current.runs.append(Run{text, format});
    return true;
}

bool Parser::endParagraph(qsizetype offset)
{
    if (!flush(offset) || !count(1, offset))
        return false;
    for (Run& run : m_current.runs)
        pairSurrogates(run.text);
    m_current.block = blockFormat();
    m_current.mark = charFormat();
    m_paragraphs.append(std::move(m_current));
    m_current = Paragraph{};
    return true;
}

bool Parser::count(qsizetype characters, qsizetype offset)
{
    m_length += characters;
    if (m_length > maxTextLength)
        return fail(offset, QStringLiteral("the text is longer than %1 characters").arg(maxTextLength));
    return true;
}

QTextCharFormat Parser::charFormat()
{
    const CharState& c = state().chars;
    if (m_formatValid && m_formatState == c)
        return m_format;
    QTextCharFormat f;
    if (const Font* font = this->font(c.font); font && font->symbols == Font::Symbols::None)
        f.setFontFamilies({font->family});
    f.setFontPointSize(c.halfPoints / 2.0);
    f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(c.italic);
    f.setFontUnderline(c.underline);
    f.setFontStrikeOut(c.strike);
    if (c.vertical != 0)
        f.setVerticalAlignment(c.vertical == 1 ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignSubScript);
    if (c.caps != 0)
        f.setFontCapitalization(c.caps == 1 ? QFont::AllUppercase : QFont::SmallCaps);
    if (c.foreground >= 0 && c.foreground < m_colours.size() && m_colours[c.foreground])
        f.setForeground(*m_colours[c.foreground]);
    if (c.background > 0 && c.background < m_colours.size() && m_colours[c.background])
        f.setBackground(*m_colours[c.background]);
    m_formatState = c;
    m_format = f;
    m_formatValid = true;
    return f;
}

QTextBlockFormat Parser::blockFormat()
{
    // Paragraphs in a row mostly share their properties; one shared format keeps a long document small.
    const ParaState& p = m_stack.back().para;
    if (m_blockValid && m_blockState == p)
        return m_block;
    QTextBlockFormat f;
    f.setAlignment(p.alignment);
    // Indents into the page margin have no room in the pane; a first line starts no further left than 0.
    const int left = std::max(p.left, 0);
    f.setLeftMargin(pixels(left));
    f.setRightMargin(pixels(std::max(p.right, 0)));
    const int first = std::max(p.first, -left);
    f.setTextIndent(pixels(first));
    f.setTopMargin(pixels(p.before));
    f.setBottomMargin(pixels(p.after));
    if (p.line > 0 && p.lineMultiple)
        f.setLineHeight(100.0 * p.line / 240, QTextBlockFormat::ProportionalHeight);
    else if (p.line > 0)
        f.setLineHeight(pixels(p.line), QTextBlockFormat::MinimumHeight);
    else if (p.line < 0)
        f.setLineHeight(pixels(-p.line), QTextBlockFormat::FixedHeight);
    // RTF measures tab stops from the page's edge, Qt from where the first line starts.
    const double origin = pixels(left + first);
    QList<QTextOption::Tab> tabs;
    for (QTextOption::Tab tab : p.tabs) {
        tab.position -= origin;
        if (tab.position > 0)
            tabs.append(tab);
    }
    // A hanging first line (a list item) tabs to the paragraph's indent, as word processors do.
    if (first < 0)
        tabs.append(QTextOption::Tab(pixels(-first), QTextOption::LeftTab));
    if (!tabs.isEmpty()) {
        std::sort(tabs.begin(), tabs.end(), [](const auto& a, const auto& b) { return a.position < b.position; });
        f.setTabPositions(tabs);
    }
    m_blockState = p;
    m_block = f;
    m_blockValid = true;
    return f;
}

void Parser::writeTo(QTextDocument& document) const
{
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    bool first = true;
    for (const Paragraph& paragraph : std::as_const(m_paragraphs)) {
        if (first) {
            cursor.setBlockFormat(paragraph.block);
            cursor.setBlockCharFormat(paragraph.mark);
            first = false;
        } else {
            cursor.insertBlock(paragraph.block, paragraph.mark);
        }
        for (const Run& run : paragraph.runs)
            cursor.insertText(run.text, run.format);
    }
    cursor.endEditBlock();
}

} // namespace

RtfReader::Result RtfReader::read(const QByteArray& rtf, QTextDocument& document)
{
    try {
        Parser parser(rtf);
        if (!parser.run())
            return {false, parser.error()};
        parser.writeTo(document);
        return {true, {}};
    } catch (const std::exception& e) {
        // Only running out of memory gets here; reading fails before the document is touched.
        return {false, QStringLiteral("RTF: %1").arg(QString::fromLocal8Bit(e.what()))};
    }
}
