#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

/// \brief Reads rich text in RTF form, as common word processors write it, into a text document.
///
/// Never throws; every limit on nesting, sizes and parameters is a named constant of the reader.
namespace RtfReader {

struct Result {
    bool ok = false;
    /// Why reading failed, with the byte offset where it did; empty on success.
    QString error;
};

/// Fills `document` from `rtf`. On failure `document` is left exactly as it was.
Result read(const QByteArray& rtf, QTextDocument& document);

} // namespace RtfReader
