#include "BusLog.h"

Q_LOGGING_CATEGORY(busLog, "kalvora.bus")
