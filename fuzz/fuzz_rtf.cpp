// libFuzzer entry point: every input goes through the RTF reader into a document that held text before,
// and the document is laid out as the help pane would.

#include "RtfReader.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QString previous = QStringLiteral("previous help text");

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Text layout needs fonts, and fonts need the application object; no display is involved.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QTextDocument document;
    document.setPlainText(previous);
    const RtfReader::Result result =
        RtfReader::read(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), document);
    if (!result.ok) {
        // A failed read names its reason and leaves the pane exactly as it was.
        if (result.error.isEmpty() || document.toPlainText() != previous || document.blockCount() != 1)
            std::abort();
        return 0;
    }
    if (!result.error.isEmpty() || document.characterCount() > RtfReader::maxTextLength + 1)
        std::abort();
    document.setTextWidth(1000);
    (void)document.size();
    return 0;
}
