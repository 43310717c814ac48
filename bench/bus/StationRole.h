#pragma once

#include <QStringList>

/// \brief A whole operator station (runtime and shell, offscreen) in a child process of the benchmark,
/// with a value control on the PLC's clock and an alarm list, driven by one-line commands on its
/// standard input and answering with lines that start with "@" on its standard output:
///
///   measure / report           count the clock's repaints / "@delays d1 d2 ..." (ms from the PLC)
///   write NAME VALUE           an operator write ("@written")
///   ack ID                     "@acked T", T the monotonic clock in ns just before the acknowledgement
///   await-active ID            "@active" once the alarm is active and unacknowledged here
///   await-steady ID            "@steady T" at the first paint of the list showing it acknowledged
///   await-normal ID            "@normal" once it is normal here
///   await-bad / await-good     "@bad T" / "@good T" once every mapped variable is bad / good
///   quit
///
/// "@ready" once the station runs and every mapped variable is good. With a log-in file it is a station
/// of the server; without, it runs the project's own runtime against the PLC (the embedded figure).
namespace StationRole {

/// `arguments`: --projects ROOT --project NAME --data DIR [--station LOGIN.json]
int run(const QStringList& arguments);

/// CLOCK_MONOTONIC in ns: one clock for every process on the machine.
qint64 monotonicNs();

} // namespace StationRole
