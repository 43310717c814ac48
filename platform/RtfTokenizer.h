#pragma once

#include <QByteArrayView>
#include <QString>

/// One lexical unit of RTF. Views point into the tokenizer's input.
struct RtfToken {
    enum class Kind { GroupOpen, GroupClose, ControlWord, ControlSymbol, HexByte, Text, Binary, End, Error };
    Kind kind = Kind::End;
    /// Byte offset of the token's first byte in the input.
    qsizetype offset = 0;
    /// Control word name (letters only; empty for a word longer than the reader's limit).
    QByteArrayView word;
    bool hasParameter = false;
    int parameter = 0;
    /// Control symbol character, or the byte of a `\'hh`.
    unsigned char symbol = 0;
    /// Text run (never contains `\`, `{`, `}`, CR, LF or NUL).
    QByteArrayView text;
    /// Why the input cannot be read on (Kind::Error).
    QString error;
};

/// \brief Splits RTF bytes into groups, control words and symbols, hex bytes and text runs.
///
/// Linear in the input and without recursion; `\bin N` data is stepped over here, because it may hold
/// any byte, braces and backslashes included.
class RtfTokenizer final {
public:
    explicit RtfTokenizer(QByteArrayView data, qsizetype start = 0) : m_data(data), m_pos(start) {}

    RtfToken next();
    qsizetype position() const { return m_pos; }

private:
    bool atEnd() const { return m_pos >= m_data.size(); }
    unsigned char peek() const { return static_cast<unsigned char>(m_data[m_pos]); }
    RtfToken controlWord(qsizetype start);

    QByteArrayView m_data;
    qsizetype m_pos = 0;
};
