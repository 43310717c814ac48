#include "RtfTokenizer.h"

#include "RtfReader.h"

#include <algorithm>

namespace {

bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// Line ends carry no meaning in RTF; NUL bytes appear after the end of some writers' files.
bool isIgnorable(unsigned char c) { return c == '\r' || c == '\n' || c == '\0'; }

int hexValue(unsigned char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

RtfToken RtfTokenizer::next()
{
    for (;;) {
        while (!atEnd() && isIgnorable(peek()))
            ++m_pos;
        RtfToken token;
        token.offset = m_pos;
        if (atEnd())
            return token;
        const unsigned char c = peek();
        if (c == '{' || c == '}') {
            ++m_pos;
            token.kind = c == '{' ? RtfToken::Kind::GroupOpen : RtfToken::Kind::GroupClose;
            return token;
        }
        if (c != '\\') {
            const qsizetype start = m_pos;
            while (!atEnd() && peek() != '\\' && peek() != '{' && peek() != '}' && !isIgnorable(peek()))
                ++m_pos;
            token.kind = RtfToken::Kind::Text;
            token.text = m_data.sliced(start, m_pos - start);
            return token;
        }
        ++m_pos;
        if (atEnd())
            return token; // a lone backslash at the very end: the caller sees the end
        const unsigned char s = peek();
        if (isLetter(s))
            return controlWord(token.offset);
        if (s == '\r' || s == '\n') {
            // A backslash before a line end is an old way of writing \par.
            ++m_pos;
            token.kind = RtfToken::Kind::ControlWord;
            token.word = "par";
            return token;
        }
        ++m_pos;
        if (s == '\'') {
            const int high = atEnd() ? -1 : hexValue(peek());
            const int low = m_pos + 1 < m_data.size() ? hexValue(static_cast<unsigned char>(m_data[m_pos + 1])) : -1;
            if (high < 0 || low < 0)
                continue; // not a byte: the escape is dropped and what follows reads as text
            m_pos += 2;
            token.kind = RtfToken::Kind::HexByte;
            token.symbol = static_cast<unsigned char>(high * 16 + low);
            return token;
        }
        token.kind = RtfToken::Kind::ControlSymbol;
        token.symbol = s;
        return token;
    }
}

RtfToken RtfTokenizer::controlWord(qsizetype start)
{
    RtfToken token;
    token.kind = RtfToken::Kind::ControlWord;
    token.offset = start;
    const qsizetype nameStart = m_pos;
    while (!atEnd() && isLetter(peek()))
        ++m_pos;
    if (m_pos - nameStart <= RtfReader::maxControlWordLength)
        token.word = m_data.sliced(nameStart, m_pos - nameStart);

    const bool negative = !atEnd() && peek() == '-' && m_pos + 1 < m_data.size()
        && isDigit(static_cast<unsigned char>(m_data[m_pos + 1]));
    if (negative)
        ++m_pos;
    if (!atEnd() && isDigit(peek())) {
        qint64 value = 0;
        while (!atEnd() && isDigit(peek())) {
            value = std::min<qint64>(value * 10 + (peek() - '0'), RtfReader::maxParameter);
            ++m_pos;
        }
        token.hasParameter = true;
        token.parameter = static_cast<int>(negative ? -value : value);
    }
    if (!atEnd() && peek() == ' ')
        ++m_pos; // the delimiting space belongs to the word

    if (token.word == QByteArrayView("bin")) {
        const qsizetype length = token.hasParameter ? std::max(token.parameter, 0) : 0;
        if (length > m_data.size() - m_pos) {
            token.kind = RtfToken::Kind::Error;
            token.error = QStringLiteral("\\bin data of %1 bytes runs past the end of the data").arg(length);
            return token;
        }
        token.kind = RtfToken::Kind::Binary;
        token.text = m_data.sliced(m_pos, length);
        m_pos += length;
    }
    return token;
}
