#include "ServerLog.h"

Q_LOGGING_CATEGORY(serverLog, "kalvora.server")
