#include "AccessLog.h"

// Debug lines (files read, rule counts) only when asked for with QT_LOGGING_RULES.
Q_LOGGING_CATEGORY(lcAccess, "kalvora.access", QtInfoMsg)
