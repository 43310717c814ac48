#pragma once

#include <QByteArray>

#include <charconv>
#include <span>

/// \brief Numbers as the text of an SQL array literal, `{1,2,3}`, for array parameters. Doubles are
/// written in their shortest form that reads back as the very same bits (the sign of zero included).
class PgArrayLiteral final {
public:
    static void appendReal(QByteArray& out, double v)
    {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, v).ptr;
        out.append(text, end - text);
    }
    static QByteArray real(double v)
    {
        QByteArray out;
        appendReal(out, v);
        return out;
    }
    template <class T>
    static QByteArray of(std::span<const T> values)
    {
        QByteArray out;
        out.reserve(static_cast<qsizetype>(values.size()) * 6 + 2);
        out += '{';
        for (size_t i = 0; i < values.size(); ++i) {
            if (i)
                out += ',';
            if constexpr (std::is_floating_point_v<T>)
                appendReal(out, values[i]);
            else
                out += QByteArray::number(values[i]);
        }
        return out + '}';
    }
};
