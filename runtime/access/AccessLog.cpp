#include "AccessLog.h"

Q_LOGGING_CATEGORY(lcAccess, "kalvora.access")
