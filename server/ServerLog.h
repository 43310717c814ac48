#pragma once

#include <QLoggingCategory>

// The server's own category; the engine and the bus log under theirs.
Q_DECLARE_LOGGING_CATEGORY(serverLog)
