#pragma once

#include <QByteArray>

/// What the fuzzer and the regression test do with one input: parse it as a bag, read it the way the
/// navigation bar loads its properties, read every entry, and write back what was read cleanly.
///
/// Whatever the bytes, this must return normally: every failure the bag reports is a KalvoraError that
/// names the source. A broken promise (another exception, a clean bag that does not read back the same
/// after writing, a message without its source) aborts, so the fuzzer reports it.
namespace BagExercise {
void run(const QByteArray& bytes);
} // namespace BagExercise
