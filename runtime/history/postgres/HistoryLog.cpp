#include "HistoryLog.h"

Q_LOGGING_CATEGORY(historyLog, "kalvora.history")
