#include "KalvoraError.h"
#include "StdFont.h"
#include "Twips.h"

#include <QTest>
#include <QWidget>

#include <limits>

class TestTwips final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void containerRoundsToWholePixelsAndReportsWhatItTook_data()
    {
        QTest::addColumn<float>("twips");
        QTest::addColumn<float>("reported");
        QTest::newRow("exact") << 1365.0F << 1365.0F;
        QTest::newRow("bar button width") << 1273.75F << 1275.0F;   // 84.92 px -> 85 px
        QTest::newRow("label height") << 372.27274F << 375.0F;
        QTest::newRow("below half a pixel") << 7.4F << 0.0F;
        QTest::newRow("negative") << -45.0F << -45.0F;
        QTest::newRow("negative rounded") << -52.0F << -45.0F;
    }

    void containerRoundsToWholePixelsAndReportsWhatItTook()
    {
        QFETCH(float, twips);
        QFETCH(float, reported);
        QWidget parent;
        QWidget child(&parent);
        Twips::setLeft(child, twips);
        Twips::setTop(child, twips);
        QCOMPARE(Twips::left(child), reported);
        QCOMPARE(Twips::top(child), reported);
        if (twips >= 0) {
            Twips::setWidth(child, twips);
            Twips::setHeight(child, twips);
            QCOMPARE(Twips::width(child), reported);
            QCOMPARE(Twips::height(child), reported);
        }
    }

    void invalidValuesAreRejected_data()
    {
        QTest::addColumn<float>("twips");
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<float>::infinity();
        QTest::newRow("too large") << 1.0e9F;
    }

    void invalidValuesAreRejected()
    {
        QFETCH(float, twips);
        QWidget widget;
        const QRect before = widget.geometry();
        QVERIFY_THROWS_EXCEPTION(KalvoraError, Twips::setLeft(widget, twips));
        QVERIFY_THROWS_EXCEPTION(KalvoraError, Twips::setWidth(widget, twips));
        QCOMPARE(widget.geometry(), before);
    }

    void negativeSizeIsRejected()
    {
        QWidget widget;
        QVERIFY_THROWS_EXCEPTION(KalvoraError, Twips::setWidth(widget, -30.0F));
    }

    void fontNotation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("weight");
        QTest::addColumn<int>("pixels");
        QTest::newRow("label") << QStringLiteral("Tahoma, 8.25pt, bold") << QStringLiteral("Tahoma") << qint64(82500) << 700 << 11;
        QTest::newRow("heading") << QStringLiteral("Tahoma, 9.75pt, bold") << QStringLiteral("Tahoma") << qint64(97500) << 700 << 13;
        QTest::newRow("title") << QStringLiteral("Tahoma,12pt,bold") << QStringLiteral("Tahoma") << qint64(120000) << 700 << 16;
        QTest::newRow("switch") << QStringLiteral("MS Sans Serif, 8.25pt") << QStringLiteral("MS Sans Serif") << qint64(82500) << 400 << 11;
        QTest::newRow("weight") << QStringLiteral("Tahoma, 8.25, weight=600") << QStringLiteral("Tahoma") << qint64(82500) << 600 << 11;
    }

    void fontNotation()
    {
        QFETCH(QString, text);
        const StdFont font = StdFont::parse(text);
        QTEST(font.name, "name");
        QTEST(qint64(font.size), "size");
        QTEST(int(font.weight), "weight");
        QTEST(font.toQFont().pixelSize(), "pixels");
        QCOMPARE(StdFont::parse(font.toString()), font);
    }

    void badFontNotation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no size") << QStringLiteral("Tahoma");
        QTest::newRow("size not a number") << QStringLiteral("Tahoma, large");
        QTest::newRow("zero size") << QStringLiteral("Tahoma, 0pt");
        QTest::newRow("huge size") << QStringLiteral("Tahoma, 100000pt");
        QTest::newRow("unknown style") << QStringLiteral("Tahoma, 8pt, wobbly");
        QTest::newRow("no name") << QStringLiteral(", 8pt");
    }

    void badFontNotation()
    {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(KalvoraError, StdFont::parse(text));
    }
};

QTEST_MAIN(TestTwips)
#include "tst_Twips.moc"
