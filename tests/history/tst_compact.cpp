// Packed history blocks: every layout gives back each sample bit for bit, damaged blocks are refused
// with an error instead of being read, and the block store finds and re-packs blocks without loss.
#include "SampleBlockCodec.h"
#include "PackedSpans.h"
#include "SampleBlockPacker.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <limits>

using Samples = QList<PackedSample>;
Q_DECLARE_METATYPE(Samples)

namespace {

constexpr qint64 Start = 1767225600000; // 2026-01-01, ms

Samples series(qsizetype count, const std::function<PackedSample(qsizetype)>& at)
{
    Samples out;
    for (qsizetype i = 0; i < count; ++i)
        out.append(at(i));
    return out;
}

Samples hourOfSeconds(const std::function<double(qsizetype)>& value)
{
    return series(3600, [&](qsizetype i) { return PackedSample{Start + i * 1000, value(i)}; });
}

QByteArray validBlock(SampleBlockCodec::Layout layout)
{
    const Samples samples = hourOfSeconds([](qsizetype i) { return std::round(200.0 * std::sin(i * 0.01)) / 10.0; });
    return SampleBlockCodec::encode(samples, layout);
}

std::unique_ptr<SqliteDatabase> openBlocks(const QTemporaryDir& dir)
{
    auto opened = SqliteDatabase::open(dir.filePath(QStringLiteral("archive.sqlite")), QStringLiteral("archive"), 1,
                                       [](SqliteDatabase& db, int) { SampleBlockStore::createTable(db); });
    return std::move(opened.database);
}

constexpr qint64 Hour = 3600000;

} // namespace

class TestCompact final : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void damaged_data();
    void damaged();
    void overlapping_data();
    void overlapping();
    void packingAgainLosesNothing();
    void nextDue_data();
    void nextDue();
};

void TestCompact::roundTrip_data()
{
    QTest::addColumn<Samples>("samples");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto* random = QRandomGenerator::global();
    QTest::newRow("empty") << Samples{};
    QTest::newRow("one sample") << Samples{{Start + 123, 42.5}};
    QTest::newRow("random doubles, random times")
        << series(2000, [&](qsizetype) { return PackedSample{static_cast<qint64>(random->generate64()), std::bit_cast<double>(random->generate64())}; });
    QTest::newRow("ramp at 0.1 steps") << hourOfSeconds([](qsizetype i) { return (1000 + i) / 10.0; });
    QTest::newRow("steps of a valve, 0.25 apart") << hourOfSeconds([](qsizetype i) { return (i / 300) * 0.25 - 3.0; });
    QTest::newRow("repeated value") << hourOfSeconds([](qsizetype) { return 71.3; });
    QTest::newRow("unquantised sine") << hourOfSeconds([](qsizetype i) { return 500.0 + 400.0 * std::sin(i * 0.0007); });
    QTest::newRow("NaN payloads, infinities, -0.0, denormals")
        << Samples{{Start, 0.0}, {Start + 1000, -0.0}, {Start + 2000, nan}, {Start + 3000, std::bit_cast<double>(0x7ff4000000000123ull)},
                   {Start + 4000, -nan}, {Start + 5000, inf}, {Start + 6000, -inf}, {Start + 7000, std::numeric_limits<double>::denorm_min()},
                   {Start + 8000, 1.5}, {Start + 9000, -0.0}};
    QTest::newRow("quantised but one -0.0") << hourOfSeconds([](qsizetype i) { return i == 1800 ? -0.0 : (i % 50) / 10.0; });
    QTest::newRow("gaps and times off the second")
        << series(3000, [](qsizetype i) { return PackedSample{Start + i * 997 + (i / 700) * 3600000 + (i % 7), (i % 13) * 0.1}; });
    QTest::newRow("times out of order and at the ends of the range")
        << Samples{{std::numeric_limits<qint64>::max(), 1.0}, {std::numeric_limits<qint64>::min(), 2.0}, {0, 3.0}, {-5, 4.0}};
    QTest::newRow("huge multiples") << hourOfSeconds([](qsizetype i) { return i % 2 ? 9.0e15 : -9.0e15; });
    QTest::newRow("block at the size limit") << series(SampleBlockCodec::MaxSamples, [](qsizetype i) {
        return PackedSample{Start + i * 100, std::sin(i * 0.001) * 100.0};
    });
}

void TestCompact::roundTrip()
{
    QFETCH(Samples, samples);
    using Code = SampleBlockCodec::ValueCode;
    QList<QByteArray> blocks{SampleBlockCodec::encode(samples)};
    for (const Code code : {Code::Planes, Code::Xor, Code::Quantised, Code::DeltaPlanes})
        for (const bool zstd : {false, true})
            blocks.append(SampleBlockCodec::encode(samples, {code, zstd}));
    for (const QByteArray& block : blocks) {
        const auto decoded = SampleBlockCodec::decode(block);
        QVERIFY2(decoded.ok(), qPrintable(decoded.error));
        QCOMPARE(decoded.samples.size(), samples.size());
        for (qsizetype i = 0; i < samples.size(); ++i) {
            QCOMPARE(decoded.samples[i].t, samples[i].t);
            QCOMPARE(std::bit_cast<quint64>(decoded.samples[i].v), std::bit_cast<quint64>(samples[i].v));
        }
    }
}

void TestCompact::damaged_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("error");
    using Code = SampleBlockCodec::ValueCode;
    for (const Code code : {Code::Planes, Code::Xor, Code::Quantised, Code::DeltaPlanes})
        for (const bool zstd : {false, true}) {
            const QByteArray block = validBlock({code, zstd});
            const QByteArray name = QByteArray::number(static_cast<int>(code)) + (zstd ? "+zstd" : "");
            QTest::newRow(name + " truncated") << block.left(block.size() - 3) << QString();
            QTest::newRow(name + " cut in the header") << block.left(3) << QString();
            QTest::newRow(name + " trailing bytes") << block + QByteArray(9, '\x55') << QString();
            QByteArray more = block;
            more[3] = static_cast<char>(more[3] + 1); // the count's second varint byte: 3600 → 3728
            QTest::newRow(name + " count too high") << more << QString();
            QByteArray fewer = block;
            fewer[2] = static_cast<char>(fewer[2] - 1);
            QTest::newRow(name + " count too low") << fewer << QString();
        }
    QByteArray version = validBlock({});
    version[0] = 2;
    QTest::newRow("later version") << version << QStringLiteral("unknown block version 2");
    QByteArray layout = validBlock({});
    layout[1] = 0x07;
    QTest::newRow("unknown layout") << layout << QStringLiteral("unknown layout 7");
    QTest::newRow("empty input") << QByteArray() << QStringLiteral("too short");
    QTest::newRow("count of a billion") << QByteArray("\x01\x01\x80\x94\xeb\xdc\x03", 7) + QByteArray(64, '\0')
                                        << QStringLiteral("sample count missing or above");
    QTest::newRow("lying compressed size") << QByteArray("\x01\x11\x90\x1c\xff\xff\x7f", 7) + QByteArray(64, '\0')
                                           << QStringLiteral("payload size missing or too large");
    QTest::newRow("count no payload can hold") << QByteArray("\x01\x01\x80\x80\x10", 5) + QByteArray(64, '\0')
                                               << QStringLiteral("cannot fit");
}

void TestCompact::damaged()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, error);
    const auto decoded = SampleBlockCodec::decode(block);
    QVERIFY2(!decoded.ok(), "a damaged block was read as sound");
    QVERIFY(decoded.samples.isEmpty());
    QVERIFY2(decoded.error.startsWith(QStringLiteral("damaged history block: ")), qPrintable(decoded.error));
    QVERIFY2(decoded.error.contains(error), qPrintable(decoded.error));
}

void TestCompact::overlapping_data()
{
    QTest::addColumn<qint64>("t0");
    QTest::addColumn<qint64>("t1");
    QTest::addColumn<QList<qint64>>("starts");
    // Trend 1 has samples every 10 s in hours 0, 1 and 3 (the last at hh:59:50); trend 2 only in hour 2.
    QTest::newRow("inside one hour") << Start + 600000 << Start + 700000 << QList<qint64>{Start};
    QTest::newRow("from the last sample of an hour into the next") << Start + Hour - 10000 << Start + Hour << QList<qint64>{Start, Start + Hour};
    QTest::newRow("after the last sample of a block") << Start + Hour - 9999 << Start + Hour - 1 << QList<qint64>{};
    QTest::newRow("the gap only") << Start + 2 * Hour << Start + 3 * Hour - 1 << QList<qint64>{};
    QTest::newRow("everything") << qint64(0) << Start + 10 * Hour << QList<qint64>{Start, Start + Hour, Start + 3 * Hour};
}

void TestCompact::overlapping()
{
    QFETCH(qint64, t0);
    QFETCH(qint64, t1);
    QFETCH(QList<qint64>, starts);
    QTemporaryDir dir;
    auto db = openBlocks(dir);
    QVERIFY(db);
    SampleBlockStore store(*db);
    const auto tenSeconds = [](qint64 from) { return series(360, [from](qsizetype i) { return PackedSample{from + i * 10000, i * 0.5}; }); };
    db->begin();
    SampleBlockPacker::pack(store, 1, tenSeconds(Start) + tenSeconds(Start + Hour) + tenSeconds(Start + 3 * Hour), Hour);
    SampleBlockPacker::pack(store, 2, tenSeconds(Start + 2 * Hour), Hour);
    db->commit();
    QList<qint64> found;
    for (const auto& block : store.overlapping(1, t0, t1)) {
        QCOMPARE(store.unpack(1, block).size(), 360);
        found.append(block.start);
    }
    QCOMPARE(found, starts);
}

void TestCompact::packingAgainLosesNothing()
{
    QTemporaryDir dir;
    auto db = openBlocks(dir);
    QVERIFY(db);
    SampleBlockStore store(*db);
    const Samples first = series(100, [](qsizetype i) { return PackedSample{Start + i * 1000, i * 0.1}; });
    SampleBlockPacker::pack(store, 7, first, Hour);
    const QByteArray packed = store.overlapping(7, Start, Start + Hour).value(0).data;
    // A re-run over rows that were packed but not yet removed when the process died.
    SampleBlockPacker::pack(store, 7, first, Hour);
    QCOMPARE(store.overlapping(7, Start, Start + Hour).value(0).data, packed);
    // Late rows: one replaces a stored sample, two are new, one falls into the next hour.
    const Samples late{{Start + 50 * 1000, -1.0}, {Start + 50 * 1000 + 1, 2.0}, {Start + 200 * 1000, 3.0}, {Start + Hour, 4.0}};
    SampleBlockPacker::pack(store, 7, late, Hour);
    const auto blocks = store.overlapping(7, Start, Start + Hour);
    QCOMPARE(blocks.size(), 2);
    const Samples merged = store.unpack(7, blocks[0]);
    QCOMPARE(merged.size(), 102);
    QCOMPARE(merged[50].v, -1.0);
    QCOMPARE(merged[51].t, Start + 50 * 1000 + 1);
    QCOMPARE(merged.last().v, 3.0);
    QCOMPARE(store.unpack(7, blocks[1]).value(0).v, 4.0);
    // A damaged stored block is named, never read.
    SampleBlockStore::StoredBlock broken = blocks[0];
    broken.data.chop(2);
    QVERIFY_THROWS_EXCEPTION(KalvoraError, store.unpack(7, broken));
}

void TestCompact::nextDue_data()
{
    using Rows = QList<PackedSpans::OldestRow>;
    QTest::addColumn<Rows>("oldest");
    QTest::addColumn<qint64>("newest");
    QTest::addColumn<qint64>("trend"); // -1: nothing due
    QTest::addColumn<qint64>("start");
    constexpr qint64 Live = PackedSpans::LiveMs;
    QTest::newRow("live window not yet past") << Rows{{1, Start}} << Start + Hour + Live - 1 << qint64(-1) << qint64(0);
    QTest::newRow("live window just past") << Rows{{1, Start + Hour - 1}} << Start + Hour + Live << qint64(1) << Start;
    QTest::newRow("oldest span first") << Rows{{1, Start + Hour}, {2, Start + 5}} << Start + 9 * Hour << qint64(2) << Start;
    QTest::newRow("tie: lower trend") << Rows{{4, Start + 9}, {3, Start + 7}} << Start + 9 * Hour << qint64(3) << Start;
    QTest::newRow("before 1970") << Rows{{1, -1}} << qint64(Hour + Live) << qint64(1) << -Hour;
    QTest::newRow("no rows") << Rows{} << Start << qint64(-1) << qint64(0);
}

void TestCompact::nextDue()
{
    QFETCH(QList<PackedSpans::OldestRow>, oldest);
    QFETCH(qint64, newest);
    QFETCH(qint64, trend);
    QFETCH(qint64, start);
    const auto due = PackedSpans::next(oldest, newest);
    QCOMPARE(due.has_value(), trend >= 0);
    if (due)
        QCOMPARE(*due, (PackedSpans::Span{trend, start}));
}

QTEST_GUILESS_MAIN(TestCompact)
#include "tst_compact.moc"
