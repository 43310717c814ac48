#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

/// \brief Turns the 8-bit text of an RTF document into Unicode, in one Windows code page.
///
/// Code pages 1252 (Western, the usual `\ansicpg`) and 850 (DOS Western, `\pca`) are decoded from tables
/// of our own, so they read the same whether or not Qt was built with ICU (without it, Qt decodes only
/// UTF and Latin-1). Every other page goes to Qt's decoder; a page it does not know reads as 1252.
class RtfCodePage final {
public:
    explicit RtfCodePage(int number = 1252);

    /// The page a font's `\fcharset` stands for, or `documentPage` for the ANSI and default sets and
    /// for sets without a page of their own.
    static int forCharset(int charset, int documentPage);

    int number() const { return m_number; }
    QString decode(QByteArrayView bytes);

private:
    int m_number = 1252;
    const char16_t* m_table = nullptr; // the upper half, bytes 0x80 to 0xFF
    std::optional<QStringDecoder> m_decoder;
};
