#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

/// \brief Reads rich text in RTF form, as common word processors write it, into a text document.
///
/// Never throws; every limit on nesting, sizes and parameters is a named constant of the reader.
///
/// What it understands: groups; paragraphs (`\par`, `\pard`, `\ql` `\qc` `\qr` `\qj`, `\li` `\ri` `\fi`,
/// `\sb` `\sa`, `\sl` `\slmult`, tab stops `\tx` with `\tqr` `\tqc`); `\line`, `\tab` and the special
/// characters (`\~`, `\-`, `\_`, `\bullet`, `\emdash`, quotes, ...); character formatting (`\b` `\i`
/// `\ul`/`\ulnone` `\strike` `\super` `\sub` `\caps` `\scaps` `\v`, each with its 0 form, `\fs`, `\plain`);
/// the font table with `\f` and `\deff`, the colour table with `\cf`, `\cb` and `\highlight`; bytes
/// `\'hh` and raw 8-bit text in the document's code page (`\ansi`, `\ansicpg`, `\pc`, `\pca`, `\mac`) or
/// the one a font's `\fcharset`/`\cpg` names; `\uN` with `\ucN`; list bullets and numbers as `\pntext` and
/// `\listtext` carry them; field results. Pictures, objects, field instructions, the style sheet, the
/// information group, headers and footers, list definitions and every `{\*...}` destination it does not
/// know are skipped with their contents; `\bin` data is skipped by its length.
///
/// Lenient where a writer's slip still leaves a readable text: an invalid `\'hh` is dropped, text after
/// the document's closing brace is ignored, fonts and colours beyond the table caps are ignored, and
/// parameters are saturated and then clamped to the range each control word can use. Refused with an
/// error that names the byte offset: empty input, input that does not start with `{\rtf`, input over
/// `maxInputBytes`, data ending inside an open group (a truncated file), nesting deeper than
/// `maxGroupDepth`, text longer than `maxTextLength`, and `\bin` data running past the end.
namespace RtfReader {

/// Larger input is refused before reading; help texts are a few kilobytes, a picture-laden file a few
/// megabytes.
inline constexpr qsizetype maxInputBytes = 16 * 1024 * 1024;
/// Groups open at once. Word processors stay below a few dozen; the state stack holds one entry per group.
inline constexpr int maxGroupDepth = 512;
/// Characters of the read document, one per paragraph end included: some sixty pages, where a help text
/// has one or two.
inline constexpr qsizetype maxTextLength = 200'000;
/// Font and colour table entries kept; further entries are ignored.
inline constexpr int maxFonts = 1024;
inline constexpr int maxColours = 1024;
/// Bytes of a font name kept; the rest is ignored.
inline constexpr int maxFontNameBytes = 256;
/// Letters of a control word; a longer word is taken as unknown (and ignored).
inline constexpr int maxControlWordLength = 32;
/// Parameters saturate at plus or minus this value, so no arithmetic on them can overflow.
inline constexpr int maxParameter = 1'000'000'000;
/// Indents, spacing and tab positions in twips are clamped to this (22 inches, a word processor's
/// largest page).
inline constexpr int maxTwips = 31680;
/// Font sizes in half-points (`\fs`), 1 pt to 1638 pt.
inline constexpr int minFontHalfPoints = 2;
inline constexpr int maxFontHalfPoints = 3276;
/// Tab stops of one paragraph kept.
inline constexpr int maxTabStops = 64;
/// Fallback characters skipped after `\uN` (`\ucN` is clamped to this).
inline constexpr int maxUnicodeSkip = 16;

struct Result {
    bool ok = false;
    /// Why reading failed, with the byte offset where it did; empty on success.
    QString error;
};

/// Fills `document` from `rtf`. On failure `document` is left exactly as it was.
Result read(const QByteArray& rtf, QTextDocument& document);

} // namespace RtfReader
