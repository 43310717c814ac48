// Measures the packed block layouts on real history: a fresh runtime writes its 24-hour back-fill of the
// plant simulation, the samples are read back per trend and hour, and every layout packs and unpacks
// them. Printed per layout: bytes per sample, encode and decode rates. The same is done for the values
// as a PLC would deliver them (raw counts times a scale of 0.1, as the Modbus source computes them).
// Option: --hours N (back-fill length, default 24).
#include "BenchOptions.h"
#include "EngineTestSupport.h"
#include "Runtime.h"
#include "SampleBlockCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using Block = QList<PackedSample>;

/// Every trend's samples cut into blocks of one hour, read straight from the archive file.
std::vector<Block> hourBlocks(const QString& archive, qint64& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(archive).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT trend, t, v FROM samples ORDER BY trend, t", -1, &select, nullptr);
    std::vector<Block> blocks;
    qint64 lastTrend = -1;
    qint64 lastHour = 0;
    rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
        const qint64 trend = sqlite3_column_int64(select, 0);
        const qint64 t = sqlite3_column_int64(select, 1);
        if (trend != lastTrend || t / 3600000 != lastHour)
            blocks.emplace_back();
        lastTrend = trend;
        lastHour = t / 3600000;
        blocks.back().append({t, sqlite3_column_double(select, 2)});
        ++rows;
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return blocks;
}

qint64 rollupRows(const QString& archive)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(archive).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM rollups", -1, &count, nullptr);
    const qint64 rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : 0;
    sqlite3_finalize(count);
    sqlite3_close(db);
    return rows;
}

void measure(const char* name, const std::vector<Block>& blocks, qint64 rows, const SampleBlockCodec::Layout* layout)
{
    std::vector<QByteArray> packed(blocks.size());
    QElapsedTimer timer;
    timer.start();
    for (std::size_t i = 0; i < blocks.size(); ++i)
        packed[i] = layout ? SampleBlockCodec::encode(blocks[i], *layout) : SampleBlockCodec::encode(blocks[i]);
    const double encodeSeconds = timer.nsecsElapsed() / 1e9;
    qint64 bytes = 0;
    int quantised = 0;
    for (const QByteArray& block : packed) {
        bytes += block.size();
        quantised += SampleBlockCodec::layoutOf(block).values == SampleBlockCodec::ValueCode::Quantised;
    }
    timer.restart();
    bool exact = true;
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const auto decoded = SampleBlockCodec::decode(packed[i]);
        exact = exact && decoded.ok() && decoded.samples.size() == blocks[i].size();
        for (qsizetype j = 0; exact && j < decoded.samples.size(); ++j)
            exact = decoded.samples[j].t == blocks[i][j].t
                && std::bit_cast<quint64>(decoded.samples[j].v) == std::bit_cast<quint64>(blocks[i][j].v);
    }
    const double decodeSeconds = timer.nsecsElapsed() / 1e9;
    const double megabytes = rows * 16.0 / 1e6; // a sample is a 64-bit time and a double
    std::printf("  %-22s %6.3f B/sample  encode %7.1f MB/s %6.2f M samples/s  decode %7.1f MB/s %6.2f M samples/s  quantised blocks %d/%zu%s\n",
                name, static_cast<double>(bytes) / rows, megabytes / encodeSeconds, rows / encodeSeconds / 1e6,
                megabytes / decodeSeconds, rows / decodeSeconds / 1e6, quantised, packed.size(), exact ? "" : "  NOT EXACT");
}

void measureAll(const std::vector<Block>& blocks, qint64 rows)
{
    using Code = SampleBlockCodec::ValueCode;
    const struct {
        const char* name;
        SampleBlockCodec::Layout layout;
    } layouts[] = {
        {"planes + zstd", {Code::Planes, true}},
        {"delta planes + zstd", {Code::DeltaPlanes, true}},
        {"xor", {Code::Xor, false}},
        {"xor + zstd", {Code::Xor, true}},
        {"quantised", {Code::Quantised, false}},
        {"quantised + zstd", {Code::Quantised, true}},
    };
    for (const auto& l : layouts)
        measure(l.name, blocks, rows, &l.layout);
    measure("chosen per block", blocks, rows, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int hours = static_cast<int>(bench::optionNumber(args, "--hours", 24));

    QTemporaryDir dir;
    copyProject(dir.path());
    RuntimeOptions options = testOptions(dir.path(), hours);
    // Rows, so every sample of the back-fill can be read straight from the samples table.
    options.archiveLayout = SqliteArchiveBackend::Layout::Rows;
    const QString archive = QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/archive.sqlite"));
    {
        Runtime runtime(options);
        if (const QString error = startAndWait(runtime, QStringLiteral("Kalvora"), 600000); !error.isEmpty()) {
            std::printf("%s\n", qPrintable(error));
            return 1;
        }
        runtime.stop(); // a clean stop leaves the file as a user's station would
    }
    qint64 rows = 0;
    std::vector<Block> blocks = hourBlocks(archive, rows);
    if (rows == 0) {
        std::printf("no samples in %s\n", qPrintable(archive));
        return 1;
    }
    const qint64 fileBytes = QFileInfo(archive).size() + QFileInfo(archive + QStringLiteral("-wal")).size();
    std::printf("== %lld samples of %d h back-fill in %zu blocks of one trend-hour ==\n", static_cast<long long>(rows), hours, blocks.size());
    std::printf("  today's file: %.2f B/sample (samples, rollups, indexes); rollup cells per sample %.3f\n",
                static_cast<double>(fileBytes) / rows, static_cast<double>(rollupRows(archive)) / rows);
    std::printf("== simulated values as recorded ==\n");
    measureAll(blocks, rows);
    for (Block& block : blocks)
        for (PackedSample& s : block)
            s.v = static_cast<double>(static_cast<qint64>(std::llround(s.v * 10.0))) * 0.1;
    std::printf("== the same as a PLC delivers them (raw count x 0.1) ==\n");
    measureAll(blocks, rows);
    return 0;
}
