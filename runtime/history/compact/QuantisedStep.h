#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

/// \brief Finds the coarsest step of which every value is an exact integer multiple, checked bit for
/// bit (k * step must give back the very double), so PLC-quantised values pack as small integers.
class QuantisedStep final {
public:
    /// The step and the multiples, or nothing when no candidate reproduces every value.
    struct Found {
        double step = 0.0;
        std::vector<std::int64_t> multiples;
    };
    static std::optional<Found> find(std::span<const double> values);
    /// The value the decoder rebuilds from a multiple; the encoder checks against the same product.
    static double value(std::int64_t multiple, double step) { return static_cast<double>(multiple) * step; }
};
