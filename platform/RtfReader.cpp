#include "RtfReader.h"

// Placeholder until the reader lands: reports every document as unreadable, leaving the pane as it was.
RtfReader::Result RtfReader::read(const QByteArray&, QTextDocument&)
{
    return {false, QStringLiteral("RTF reader not available")};
}
