#pragma once

#include <QString>

#include <optional>
#include <utility>

/// \brief What a decoder of bytes from the wire gives back: the value, or the reason there is none.
/// Decoders never throw: a broker delivers whatever any client sent.
template <class T>
struct BusResult {
    std::optional<T> value;
    QString error;

    bool ok() const { return value.has_value(); }
    static BusResult success(T v) { return {std::move(v), {}}; }
    static BusResult failure(QString reason) { return {std::nullopt, std::move(reason)}; }
};
