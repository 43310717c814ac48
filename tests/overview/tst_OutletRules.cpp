#include "KalvoraError.h"
#include "OutletRules.h"

#include <QTest>

namespace {

/// Inputs that answer with fixed values and write down the order in which they were read.
struct Recorded {
    QVariant v, l, c1, c2, c3;
    QStringList reads;

    OutletRules::Inputs inputs()
    {
        const auto reader = [this](const char* name, const QVariant& value) {
            return [this, name, value] {
                reads.append(QString::fromLatin1(name));
                return value;
            };
        };
        return {reader("V", v), reader("L", l), reader("C1", c1), reader("C2", c2), reader("C3", c3)};
    }
};

const QVariant empty;

} // namespace

class TestOutletRules final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void truthTable_data()
    {
        QTest::addColumn<QVariant>("v");
        QTest::addColumn<QVariant>("l");
        QTest::addColumn<QVariant>("c1");
        QTest::addColumn<QVariant>("c2");
        QTest::addColumn<QVariant>("c3");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("condensate");
        QTest::addColumn<int>("valve");
        const auto row = [](const char* name, int v, QVariant l, int c1, int c2, int c3, int lr, int cr, int vr) {
            QTest::newRow(name) << QVariant(v) << l << QVariant(c1) << QVariant(c2) << QVariant(c3) << lr << cr << vr;
        };
        row("open, level, no condensate", 1, 100, 0, 0, 0, 1, 0, 1);
        row("open, empty tank", 1, 0, 0, 0, 0, 0, 0, 0);
        row("closed, level", 0, 100, 0, 0, 0, 0, 0, 0);
        row("open, empty, unit 1 condensate", 1, 0, 1, 0, 0, 0, 1, 1);
        row("closed, unit 1 condensate is gated", 0, 0, 1, 0, 0, 0, 0, 0);
        row("closed, unit 2 condensate counts", 0, 0, 0, 1, 0, 0, 1, 1);
        row("closed, unit 3 condensate counts", 0, 0, 0, 0, 1, 0, 1, 1);
        row("switch state 2 is closed", 2, 100, 1, 0, 0, 0, 0, 0);
        row("switch state -1 is closed", -1, 100, 1, 0, 0, 0, 0, 0);
        row("open, level null", 1, empty, 0, 0, 0, 0, 0, 0);
        row("fill -1 is not flowing", 1, 0, -1, -1, -1, 0, 0, 0);
        row("open, full tank, no condensate", 1, 50000.0, 0, 0, 0, 1, 0, 1);
        row("open, fractional level above 0", 1, 0.4, 0, 0, 0, 1, 0, 1);
        row("open, negative level", 1, -3.0, 0, 0, 0, 0, 0, 0);
    }

    void truthTable()
    {
        QFETCH(QVariant, v);
        QFETCH(QVariant, l);
        QFETCH(QVariant, c1);
        QFETCH(QVariant, c2);
        QFETCH(QVariant, c3);
        Recorded in{v, l, c1, c2, c3, {}};
        QTEST(int(OutletRules::levelRule(in.inputs())), "level");
        QTEST(int(OutletRules::condensateRule(in.inputs())), "condensate");
        QTEST(int(OutletRules::valveRule(in.inputs())), "valve");
    }

    void readingOrder_data()
    {
        QTest::addColumn<int>("v");
        QTest::addColumn<int>("l");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QStringList>("reads");
        QTest::newRow("level rule") << 1 << 0 << QStringLiteral("level") << QStringList{QStringLiteral("V"), QStringLiteral("L")};
        QTest::newRow("condensate rule reads all four")
            << 0 << 100 << QStringLiteral("condensate")
            << QStringList{QStringLiteral("V"), QStringLiteral("C1"), QStringLiteral("C2"), QStringLiteral("C3")};
        QTest::newRow("valve rule stops at the level term") << 1 << 100 << QStringLiteral("valve") << QStringList{QStringLiteral("V"), QStringLiteral("L")};
        QTest::newRow("valve rule reads the valve again")
            << 1 << 0 << QStringLiteral("valve")
            << QStringList{QStringLiteral("V"), QStringLiteral("L"), QStringLiteral("V"), QStringLiteral("C1"), QStringLiteral("C2"), QStringLiteral("C3")};
    }

    void readingOrder()
    {
        QFETCH(int, v);
        QFETCH(int, l);
        QFETCH(QString, rule);
        Recorded in{v, l, 0, 0, 0, {}};
        if (rule == QLatin1String("level"))
            OutletRules::levelRule(in.inputs());
        else if (rule == QLatin1String("condensate"))
            OutletRules::condensateRule(in.inputs());
        else
            OutletRules::valveRule(in.inputs());
        QTEST(in.reads, "reads");
    }

    void conversionRoundsHalvesToEven_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("0.5") << QVariant(0.5) << 0;
        QTest::newRow("1.5") << QVariant(1.5) << 2;
        QTest::newRow("2.5") << QVariant(2.5) << 2;
        QTest::newRow("-0.5") << QVariant(-0.5) << 0;
        QTest::newRow("0.6") << QVariant(0.6) << 1;
        QTest::newRow("true") << QVariant(true) << 1;
        QTest::newRow("int") << QVariant(7) << 7;
        QTest::newRow("empty is 0") << QVariant() << 0;
    }

    void conversionRoundsHalvesToEven()
    {
        QFETCH(QVariant, value);
        QTEST(int(OutletRules::toInt32(value)), "expected");
    }

    void aValueThatDoesNotConvertStopsTheRule_data()
    {
        QTest::addColumn<QVariant>("v");
        QTest::addColumn<QVariant>("l");
        QTest::newRow("valve text") << QVariant(QStringLiteral("open")) << QVariant(100);
        QTest::newRow("valve out of range") << QVariant(1e12) << QVariant(100);
        QTest::newRow("level text") << QVariant(1) << QVariant(QStringLiteral("full"));
    }

    void aValueThatDoesNotConvertStopsTheRule()
    {
        QFETCH(QVariant, v);
        QFETCH(QVariant, l);
        Recorded in{v, l, 0, 0, 0, {}};
        QVERIFY_THROWS_EXCEPTION(KalvoraError, OutletRules::levelRule(in.inputs()));
        QVERIFY_THROWS_EXCEPTION(KalvoraError, OutletRules::valveRule(in.inputs()));
    }
};

QTEST_MAIN(TestOutletRules)
#include "tst_OutletRules.moc"
