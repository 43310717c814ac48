// libFuzzer entry point over the JSON that stations and the server exchange: request bodies, answers and
// the server status. Whatever decodes must encode and decode again to the same bytes; what does not must
// name its reason.

#include "BusReply.h"
#include "BusRequest.h"
#include "ServerStatus.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const auto request = BusRequest::parse(bytes);
    if (!request.ok()) {
        if (request.error.isEmpty())
            std::abort();
    } else {
        const QByteArray json = request.value->toJson();
        const auto again = BusRequest::parse(json);
        if (!again.ok() || again.value->toJson() != json)
            std::abort();
    }

    const auto reply = BusReply::parse(bytes);
    if (reply.ok() ? BusReply::parse(reply.value->toJson()).value->toJson() != reply.value->toJson() : reply.error.isEmpty())
        std::abort();
    const auto status = ServerStatus::parse(bytes);
    if (status.ok() ? !(ServerStatus::parse(status.value->toJson()).value == status.value) : status.error.isEmpty())
        std::abort();
    return 0;
}
