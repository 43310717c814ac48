#pragma once

#include <QtGlobal>

#include <functional>

/// Milliseconds since the epoch; injected so tests drive time by hand.
using AccessClock = std::function<qint64()>;
