#pragma once

#include <QLoggingCategory>

// The bus room's one category: QT_LOGGING_RULES="kalvora.bus.debug=true" shows its traffic.
Q_DECLARE_LOGGING_CATEGORY(busLog)
