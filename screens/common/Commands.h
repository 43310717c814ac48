#pragma once

#include <cstdint>

/// Navigation command codes: the number of the bar button that asks for the command.
enum Command : std::uint8_t {
    CommandGerman = 1,
    CommandEnglish = 2,
    CommandPlantOverview = 5,
    CommandAlarms = 6,
    CommandTrends = 7,
    CommandFreeTrends = 8,
    CommandExit = 12,
};

/// Language identifiers the language commands switch to.
inline constexpr int LanguageGerman = 1031;
inline constexpr int LanguageEnglish = 1033;
