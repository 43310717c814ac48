#include "RtfReader.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

const QString sourceDir = QStringLiteral(KALVORA_SOURCE_DIR);

QByteArray rtf(const QByteArray& body)
{
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Tahoma;}"
           "{\\f1\\fnil\\fcharset2 Symbol;}{\\f2\\froman\\fcharset238 Times New Roman CE;}}"
           "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
           + body + "}";
}

// Block texts joined by newlines, as stored: line breaks stay U+2028, no-break spaces stay U+00A0.
QString text(const QTextDocument& document)
{
    QStringList blocks;
    for (QTextBlock b = document.begin(); b.isValid(); b = b.next())
        blocks << b.text();
    return blocks.join(u'\n');
}

QTextDocument* read(const QByteArray& bytes)
{
    auto* document = new QTextDocument;
    const RtfReader::Result result = RtfReader::read(bytes, *document);
    if (!result.ok)
        qWarning() << result.error;
    return result.ok ? document : (delete document, nullptr);
}

// The formatting of the character after the first occurrence of `needle`'s first letter, in a short
// form: only what differs from a plain 12 pt run is named.
QString describeChar(const QTextDocument& document, const QString& needle)
{
    const QTextCursor found = document.find(needle);
    if (found.isNull())
        return QStringLiteral("<not found>");
    QTextCursor c(const_cast<QTextDocument*>(&document));
    c.setPosition(found.selectionStart() + 1);
    const QTextCharFormat f = c.charFormat();
    QStringList parts;
    if (f.fontWeight() >= QFont::Bold) parts << QStringLiteral("b");
    if (f.fontItalic()) parts << QStringLiteral("i");
    if (f.fontUnderline()) parts << QStringLiteral("u");
    if (f.fontStrikeOut()) parts << QStringLiteral("s");
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) parts << QStringLiteral("super");
    if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) parts << QStringLiteral("sub");
    if (f.fontPointSize() != 12) parts << QStringLiteral("pt=%1").arg(f.fontPointSize());
    if (!f.fontFamilies().toStringList().isEmpty() && f.fontFamilies().toStringList() != QStringList{QStringLiteral("Tahoma")})
        parts << QStringLiteral("font=") + f.fontFamilies().toStringList().join(u',');
    if (f.hasProperty(QTextFormat::ForegroundBrush)) parts << QStringLiteral("fg=") + f.foreground().color().name();
    if (f.hasProperty(QTextFormat::BackgroundBrush)) parts << QStringLiteral("bg=") + f.background().color().name();
    return parts.join(u' ');
}

QString describeBlock(const QTextBlock& block)
{
    const QTextBlockFormat f = block.blockFormat();
    const Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
    const QString align = a == Qt::AlignHCenter ? QStringLiteral("centre")
        : a == Qt::AlignRight ? QStringLiteral("right") : a == Qt::AlignJustify ? QStringLiteral("justify")
        : QStringLiteral("left");
    QString d = QStringLiteral("%1 left=%2 right=%3 first=%4 before=%5 after=%6")
                    .arg(align).arg(f.leftMargin()).arg(f.rightMargin()).arg(f.textIndent())
                    .arg(f.topMargin()).arg(f.bottomMargin());
    for (const QTextOption::Tab& tab : f.tabPositions())
        d += QStringLiteral(" tab=%1").arg(tab.position);
    return d;
}

} // namespace

class TestRtfReader final : public QObject {
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void charFormat_data();
    void charFormat();
    void blockFormat_data();
    void blockFormat();
    void badInput_data();
    void badInput();
    void codePagesMatchQt_data();
    void codePagesMatchQt();
    void helpFiles_data();
    void helpFiles();
    void everyAlarmHasBothHelpFiles();
};

void TestRtfReader::text_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("paragraphs") << rtf("\\pard One\\par Two\\par\nThree") << QStringLiteral("One\nTwo\nThree");
    QTest::newRow("line ends in the source are no text") << rtf("Wa\r\nter\\par") << QStringLiteral("Water");
    QTest::newRow("line and tab") << rtf("a\\line b\\tab c") << QStringLiteral("a\u2028b\tc");
    QTest::newRow("backslash before a line end is a paragraph") << rtf("a\\\nb") << QStringLiteral("a\nb");
    QTest::newRow("escaped characters") << rtf("\\{x\\}\\\\") << QStringLiteral("{x}\\");
    QTest::newRow("special characters") << rtf("a\\~b\\_c\\emdash\\endash\\bullet\\lquote x\\rquote\\ldblquote y\\rdblquote")
                                        << QStringLiteral("a\u00a0b\u2011c\u2014\u2013\u2022\u2018x\u2019\u201cy\u201d");
    QTest::newRow("optional hyphen") << rtf("Wasser\\-pumpe") << QStringLiteral("Wasser\u00adpumpe");
    QTest::newRow("cp1252 hex bytes") << rtf("\\'e4\\'f6\\'fc\\'df\\'c4\\'80\\'84") << QStringLiteral("äöüßÄ€„");
    QTest::newRow("cp1252 raw bytes") << rtf("K\xe4lte") << QStringLiteral("Kälte");
    QTest::newRow("cp850 via ansicpg")
        << QByteArray("{\\rtf1\\ansi\\ansicpg850 \\'84\\'94\\'81\\'e1\\'8e\\'99\\'9a}") << QStringLiteral("äöüßÄÖÜ");
    QTest::newRow("cp850 via pca") << QByteArray("{\\rtf1\\pca Gr\\'94\\'e1e}") << QStringLiteral("Größe");
    QTest::newRow("unknown code page reads as 1252") << QByteArray("{\\rtf1\\ansi\\ansicpg99999 \\'e4}") << QStringLiteral("ä");
    QTest::newRow("font charset 238 is cp1250") << rtf("{\\f2 \\'b3\\'9c}") << QStringLiteral("łś");
    QTest::newRow("unicode with fallback") << rtf("\\uc1\\u8364\\'80\\u252?ber") << QStringLiteral("€über");
    QTest::newRow("uc0 skips nothing") << rtf("\\uc0\\u8364 x") << QStringLiteral("€x");
    QTest::newRow("uc2 skips two") << rtf("\\uc2\\u20013\\'d6\\'d0z") << QStringLiteral("中z");
    QTest::newRow("uc is scoped to its group") << rtf("{\\uc2 a}\\u8364 xy") << QStringLiteral("a€y");
    QTest::newRow("fallback control word counts as one") << rtf("\\u8364\\'80\\'81x") << QStringLiteral("€\ufffdx");
    QTest::newRow("fallback skip stops at a group") << rtf("{\\u8364}x") << QStringLiteral("€x");
    QTest::newRow("negative unicode") << rtf("\\u-1279?") << QStringLiteral("\ufb01");
    QTest::newRow("surrogate pair") << rtf("\\u-10179?\\u-8704?") << QStringLiteral("\U0001F600");
    QTest::newRow("lone surrogate") << rtf("a\\u-10179?b") << QStringLiteral("a\ufffdb");
    QTest::newRow("Qt's own marks never become text") << rtf("a\\u-560?\\u-559?\\u-4?\\u8233?\\u0?b")
                                                      << QStringLiteral("a\ufffd\ufffd\ufffd\ufffdb");
    QTest::newRow("unicode out of range") << rtf("\\u99999999999999999999?x") << QStringLiteral("\ufffdx");
    QTest::newRow("uc clamped") << rtf("\\uc99999\\u8364 abcdefghijklmnopqrstuvwxyz")
                                << QStringLiteral("€qrstuvwxyz");
    QTest::newRow("symbol font bullet from pntext")
        << rtf("{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'b7}}{\\pntext\\f1\\'b7\\tab}Item")
        << QStringLiteral("•\tItem");
    QTest::newRow("numbered listtext")
        << rtf("{\\*\\listtable{\\list\\listtemplateid1{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}}}}"
               "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}"
               "{\\listtext\\pard\\plain 1.\\tab}Erstens\\par{\\listtext\\pard\\plain 2.\\tab}Zweitens")
        << QStringLiteral("1.\tErstens\n2.\tZweitens");
    QTest::newRow("ignorable destinations")
        << rtf("{\\*\\generator Writer 1.0;}{\\*\\unknownthing {nested} text}A{\\*\\bkmkstart x}B")
        << QStringLiteral("AB");
    QTest::newRow("known destinations without star")
        << rtf("{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author X}}{\\header H}{\\footer F}"
               "A{\\pict\\wmetafile8\\picw10 0123abcd{\\*\\blipuid 00}}B")
        << QStringLiteral("AB");
    QTest::newRow("field shows its result")
        << rtf("{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt Link}} here") << QStringLiteral("Link here");
    QTest::newRow("unknown control words are ignored, their text kept")
        << rtf("\\viewkind4\\lang1031\\fooBar123 {\\qwerty Text}") << QStringLiteral("Text");
    QTest::newRow("hidden text") << rtf("a{\\v hidden}b\\v c\\v0 d") << QStringLiteral("abd");
    QTest::newRow("bin data may hold braces") << rtf("A{\\pict\\bin5 {}\\}\\}B") << QStringLiteral("AB");
    QTest::newRow("bin outside a picture") << rtf("A\\bin3 {{{B") << QStringLiteral("AB");
    QTest::newRow("negative bin length") << rtf("A\\bin-5 B") << QStringLiteral("AB");
    QTest::newRow("invalid hex escape is dropped") << rtf("a\\'zzb\\'4") << QStringLiteral("azzb4");
    QTest::newRow("text after the document's end") << QByteArray("{\\rtf1 a}b}}{\\rtf1 c}") << QStringLiteral("a");
    QTest::newRow("leading white space") << QByteArray("\r\n {\\rtf1 a}") << QStringLiteral("a");
    QTest::newRow("NUL bytes") << QByteArray("{\\rtf1 a\0b}\0", 12) << QStringLiteral("ab");
    QTest::newRow("over-long control word is ignored")
        << rtf("\\" + QByteArray(5000, 'b') + " x") << QStringLiteral("x");
    QTest::newRow("cells and rows") << rtf("\\trowd a\\cell b\\cell\\row c") << QStringLiteral("a\tb\t\nc");
}

void TestRtfReader::text()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    std::unique_ptr<QTextDocument> document(read(input));
    QVERIFY(document);
    QCOMPARE(::text(*document), expected);
}

void TestRtfReader::charFormat_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bold") << rtf("a {\\b bold} c") << QStringLiteral("bold") << QStringLiteral("b");
    QTest::newRow("group restores") << rtf("{\\b\\i x}plain") << QStringLiteral("plain") << QString();
    QTest::newRow("b0 and i0") << rtf("\\b\\i x\\b0 y\\i0 z") << QStringLiteral("y") << QStringLiteral("i");
    QTest::newRow("underline") << rtf("\\ul u\\ulnone n") << QStringLiteral("u") << QStringLiteral("u");
    QTest::newRow("ulnone") << rtf("\\ul u\\ulnone n") << QStringLiteral("n") << QString();
    QTest::newRow("double underline") << rtf("\\uldb u") << QStringLiteral("u") << QStringLiteral("u");
    QTest::newRow("underline colour is no underline") << rtf("\\ulc1 x") << QStringLiteral("x") << QString();
    QTest::newRow("strike super sub") << rtf("\\strike s\\strike0\\super p\\sub q") << QStringLiteral("q")
                                      << QStringLiteral("sub");
    QTest::newRow("plain resets") << rtf("\\b\\i\\ul\\fs40\\cf1 x\\plain y") << QStringLiteral("y") << QString();
    QTest::newRow("font size half-points") << rtf("\\fs20 x") << QStringLiteral("x") << QStringLiteral("pt=10");
    QTest::newRow("negative font size") << rtf("\\fs-5 x") << QStringLiteral("x") << QStringLiteral("pt=1");
    QTest::newRow("huge font size") << rtf("\\fs2147483647999 x") << QStringLiteral("x") << QStringLiteral("pt=1638");
    QTest::newRow("font from table") << rtf("{\\f2 x}") << QStringLiteral("x")
                                     << QStringLiteral("font=Times New Roman CE");
    QTest::newRow("unknown font keeps default") << rtf("{\\f77 x}") << QStringLiteral("x") << QString();
    QTest::newRow("symbol font is not named") << rtf("{\\f1 x}") << QStringLiteral("x") << QString();
    QTest::newRow("default font") << QByteArray("{\\rtf1\\deff3{\\fonttbl{\\f3 Courier New;}} x}")
                                  << QStringLiteral("x") << QStringLiteral("font=Courier New");
    QTest::newRow("font entries without groups")
        << QByteArray("{\\rtf1{\\fonttbl\\f0\\fswiss Arial;\\f1\\fmodern Courier;}\\f1 x}") << QStringLiteral("x")
        << QStringLiteral("font=Courier");
    QTest::newRow("font entry with panose and alternative")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fswiss{\\*\\panose 020b0604020202020204}{\\*\\falt Helv}Arial;}}\\f0 x}")
        << QStringLiteral("x") << QStringLiteral("font=Arial");
    QTest::newRow("foreground colour") << rtf("{\\cf1 red}") << QStringLiteral("red") << QStringLiteral("fg=#ff0000");
    QTest::newRow("auto colour") << rtf("{\\cf0 x}") << QStringLiteral("x") << QString();
    QTest::newRow("colour out of the table") << rtf("{\\cf99 x}{\\cf-3 y}") << QStringLiteral("y") << QString();
    QTest::newRow("cb background") << rtf("{\\cb2 x}") << QStringLiteral("x") << QStringLiteral("bg=#0000ff");
    QTest::newRow("highlight") << rtf("{\\highlight1 x}") << QStringLiteral("x") << QStringLiteral("bg=#ff0000");
    QTest::newRow("colour components clamped")
        << QByteArray("{\\rtf1{\\colortbl;\\red999\\green-4\\blue128;}\\cf1 x}") << QStringLiteral("x")
        << QStringLiteral("fg=#ff0080");
}

void TestRtfReader::charFormat()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, needle);
    QFETCH(QString, expected);
    std::unique_ptr<QTextDocument> document(read(input));
    QVERIFY(document);
    QCOMPARE(describeChar(*document, needle), expected);
}

void TestRtfReader::blockFormat_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("expected");

    const QString plain = QStringLiteral("left left=0 right=0 first=0 before=0 after=0");
    QTest::newRow("default") << rtf("x") << 0 << plain;
    QTest::newRow("centre") << rtf("\\qc x\\par") << 0 << QStringLiteral("centre left=0 right=0 first=0 before=0 after=0");
    QTest::newRow("right, then justify")
        << rtf("\\qr a\\par\\qj b\\par") << 1 << QStringLiteral("justify left=0 right=0 first=0 before=0 after=0");
    QTest::newRow("indents and spacing in twips")
        << rtf("\\li720\\ri300\\fi150\\sb240\\sa120 x\\par") << 0
        << QStringLiteral("left left=48 right=20 first=10 before=16 after=8");
    QTest::newRow("hanging indent tabs to the indent")
        << rtf("\\fi-360\\li720 {\\pntext\\f1\\'b7\\tab}item\\par") << 0
        << QStringLiteral("left left=48 right=0 first=-24 before=0 after=0 tab=24");
    QTest::newRow("tab stops") << rtf("\\tqr\\tx1500\\tx300 a\\tab b\\par") << 0
                               << plain + QStringLiteral(" tab=20 tab=100");
    QTest::newRow("tab stops from the page edge") << rtf("\\li720\\tx300\\tx1500 a\\tab b\\par") << 0
                                                 << QStringLiteral("left left=48 right=0 first=0 before=0 after=0 tab=52");
    QTest::newRow("pard resets") << rtf("\\qc\\li720 a\\par\\pard b\\par") << 1 << plain;
    QTest::newRow("properties at the paragraph end count") << rtf("a\\qr\\par") << 0
                                                           << QStringLiteral("right left=0 right=0 first=0 before=0 after=0");
    QTest::newRow("pard in listtext stays in its group")
        << rtf("\\li720\\fi-360{\\listtext\\pard\\plain 1.\\tab}item\\par") << 0
        << QStringLiteral("left left=48 right=0 first=-24 before=0 after=0 tab=24");
    QTest::newRow("huge indent clamped") << rtf("\\li99999999999\\sb99999999 x\\par") << 0
                                         << QStringLiteral("left left=2112 right=0 first=0 before=2112 after=0");
    QTest::newRow("negative indents and spacing")
        << rtf("\\li-720\\ri-10\\fi-999\\sb-5\\sa-5 x\\par") << 0 << plain;
    QTest::newRow("first line no further left than the page")
        << rtf("\\li150\\fi-9999 x\\par") << 0 << QStringLiteral("left left=10 right=0 first=-10 before=0 after=0 tab=10");
}

void TestRtfReader::blockFormat()
{
    QFETCH(QByteArray, input);
    QFETCH(int, block);
    QFETCH(QString, expected);
    std::unique_ptr<QTextDocument> document(read(input));
    QVERIFY(document);
    QVERIFY(block < document->blockCount());
    QCOMPARE(describeBlock(document->findBlockByNumber(block)), expected);
}

void TestRtfReader::badInput_data()
{
    QTest::addColumn<QByteArray>("input");
    // Empty: the input must read; otherwise the error must contain this text.
    QTest::addColumn<QString>("error");

    QTest::newRow("empty") << QByteArray() << QStringLiteral("empty");
    QTest::newRow("white space only") << QByteArray(" \r\n") << QStringLiteral("not rich text");
    QTest::newRow("not RTF") << QByteArray("<html>Alarm</html>") << QStringLiteral("byte 0: not rich text");
    QTest::newRow("RTF word later") << QByteArray("x{\\rtf1 a}") << QStringLiteral("not rich text");
    QTest::newRow("truncated") << rtf("Wasser").chopped(1) << QStringLiteral("truncated");
    QTest::newRow("truncated in a group") << QByteArray("{\\rtf1 {\\b x") << QStringLiteral("byte 12: the data ends inside 2");
    QTest::newRow("lone backslash at the end") << QByteArray("{\\rtf1 x\\") << QStringLiteral("truncated");
    QTest::newRow("only the header") << QByteArray("{\\rtf") << QStringLiteral("truncated");
    QTest::newRow("100000 groups deep")
        << QByteArray("{\\rtf1 ") + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + "}"
        << QStringLiteral("byte 518: groups are nested deeper than 512");
    QTest::newRow("deepest allowed") << QByteArray("{\\rtf1 ") + QByteArray(511, '{') + "x" + QByteArray(512, '}')
                                     << QString();
    QTest::newRow("100000 open braces") << QByteArray("{\\rtf1 ") + QByteArray(100000, '{') << QStringLiteral("deeper");
    QTest::newRow("100000 deep in a skipped group")
        << QByteArray("{\\rtf1 {\\*\\x ") + QByteArray(100000, '{') + QByteArray(100000, '}') + "}}"
        << QStringLiteral("deeper");
    {
        QByteArray fonts = "{\\rtf1{\\fonttbl";
        for (int i = 0; i < 40000; ++i)
            fonts += "{\\f" + QByteArray::number(i) + "\\fswiss Font" + QByteArray::number(i) + ";}";
        QTest::newRow("font table of 40000") << fonts + "}\\f39999 x\\f5 y}" << QString();
    }
    {
        QByteArray colours = "{\\rtf1{\\colortbl";
        for (int i = 0; i < 40000; ++i)
            colours += "\\red1\\green2\\blue3;";
        QTest::newRow("colour table of 40000") << colours + "}\\cf39999 x}" << QString();
    }
    QTest::newRow("font name of a megabyte")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0 ") + QByteArray(1 << 20, 'n') + ";}}\\f0 x}" << QString();
    QTest::newRow("extra closing braces") << QByteArray("{\\rtf1 a}}}}") << QString();
    QTest::newRow("closing brace first") << QByteArray("}{\\rtf1 a}") << QStringLiteral("not rich text");
    QTest::newRow("huge parameters")
        << rtf("\\fs99999999999999999999\\li-99999999999999999999\\f99999999999 \\cf99999999999 \\uc-99999999 "
               "\\sl-99999999999\\slmult1\\tx-5\\tx99999999999 x")
        << QString();
    QTest::newRow("bin beyond the end") << rtf("\\bin2147483647 x") << QStringLiteral("runs past the end");
    QTest::newRow("bin just past the end") << QByteArray("{\\rtf1\\bin3 ab") << QStringLiteral("byte 6: \\bin data of 3");
    QTest::newRow("bin with huge digits") << rtf("\\bin99999999999999999999999 x") << QStringLiteral("runs past the end");
    QTest::newRow("invalid hex everywhere") << rtf("\\'\\'g\\'0\\'}{\\'") << QString();
    QTest::newRow("too long input") << rtf(QByteArray(RtfReader::maxInputBytes, 'x')) << QStringLiteral("more than");
    QTest::newRow("too much text") << rtf(QByteArray(RtfReader::maxTextLength + 1, 'x'))
                                   << QStringLiteral("longer than 200000 characters");
    QTest::newRow("too many paragraphs") << rtf(QByteArray("\\par").repeated(RtfReader::maxTextLength + 1))
                                         << QStringLiteral("longer than");
    QTest::newRow("many tab stops") << rtf(QByteArray("\\tx100").repeated(100000) + " x\\par") << QString();
}

void TestRtfReader::badInput()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, error);

    QTextDocument document;
    document.setPlainText(QStringLiteral("previous help text"));
    const RtfReader::Result result = RtfReader::read(input, document);
    if (error.isEmpty()) {
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(result.error.isEmpty());
        QVERIFY(document.toPlainText() != QStringLiteral("previous help text"));
        return;
    }
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QCOMPARE(document.toPlainText(), QStringLiteral("previous help text"));
    QCOMPARE(document.blockCount(), 1);
}

void TestRtfReader::codePagesMatchQt_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("qtName");
    QTest::newRow("1252") << QByteArray("\\ansi\\ansicpg1252") << QStringLiteral("windows-1252");
    QTest::newRow("850") << QByteArray("\\ansi\\ansicpg850") << QStringLiteral("IBM850");
}

// The two pages decoded by tables of our own agree with Qt's (ICU's) decoder, byte for byte.
void TestRtfReader::codePagesMatchQt()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, qtName);
    QStringDecoder qt(qtName.toLatin1().constData());
    if (!qt.isValid())
        QSKIP("Qt has no decoder for this code page here");
    QByteArray input = "{\\rtf1" + header + " ";
    QByteArray bytes;
    for (int b = 0x80; b <= 0xFF; ++b) {
        input += "\\'" + QByteArray::number(b, 16) + "|";
        bytes += char(b);
    }
    std::unique_ptr<QTextDocument> document(read(input + "}"));
    QVERIFY(document);
    const QStringList ours = ::text(*document).split(u'|');
    const QString theirs = qt(bytes);
    QCOMPARE(theirs.size(), 128);
    for (int i = 0; i < 128; ++i) {
        // Qt gives bytes unassigned in 1252 as C1 controls; the reader shows them as replacement characters.
        const QString expected = theirs[i].category() == QChar::Other_Control ? QStringLiteral("\ufffd") : QString(theirs[i]);
        QVERIFY2(ours[i] == expected, qPrintable(QStringLiteral("byte %1").arg(0x80 + i, 0, 16)));
    }
}

void TestRtfReader::helpFiles_data()
{
    QTest::addColumn<QString>("path");
    const QDir html(sourceDir + QStringLiteral("/html"));
    const QStringList files = html.entryList({QStringLiteral("*.rtf")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << html.filePath(name);
}

void TestRtfReader::helpFiles()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QTextDocument document;
    const RtfReader::Result result = RtfReader::read(file.readAll(), document);
    QVERIFY2(result.ok, qPrintable(path + QStringLiteral(": ") + result.error));
    const QString text = document.toPlainText();
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
    // A help text says what the alarm means, why it comes, what follows and what to do: more than a line.
    QVERIFY2(text.size() > 600, qPrintable(path));
    if (path.endsWith(QLatin1String("de.rtf")))
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("[äöüÄÖÜß]"))), qPrintable(path));
}

void TestRtfReader::everyAlarmHasBothHelpFiles()
{
    QFile file(sourceDir + QStringLiteral("/project/Kalvora/alarms.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray alarms = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("alarms")).toArray();
    QVERIFY(!alarms.isEmpty());
    QStringList topics = {QStringLiteral("start")};
    for (const QJsonValue& alarm : alarms)
        topics << alarm.toObject().value(QStringLiteral("help")).toString();
    for (const QString& topic : std::as_const(topics)) {
        QVERIFY(!topic.isEmpty());
        for (const char* suffix : {"de.rtf", "eng.rtf"}) {
            const QString path = sourceDir + QStringLiteral("/html/") + topic + QLatin1String(suffix);
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
    }
}

QTEST_MAIN(TestRtfReader)
#include "tst_RtfReader.moc"
