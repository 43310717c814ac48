#include "BarLayout.h"
#include "ControlGeometry.h"
#include "KalvoraError.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

/// A container that keeps positions and sizes exactly, or rounds them to whole pixels.
class Cell final : public ControlGeometry {
public:
    explicit Cell(bool rounds = false)
        : m_rounds(rounds)
    {
    }
    float left() const override { return m_left; }
    float top() const override { return m_top; }
    float width() const override { return m_width; }
    float height() const override { return m_height; }
    void setLeft(float v) override { m_left = take(v); }
    void setTop(float v) override { m_top = take(v); }
    void setWidth(float v) override { m_width = take(v); }
    void setHeight(float v) override { m_height = take(v); }

private:
    float take(float v) const { return m_rounds ? std::nearbyint(v / 15.0F) * 15.0F : v; }
    bool m_rounds;
    float m_left = 0, m_top = 0, m_width = 0, m_height = 0;
};

struct Bar {
    explicit Bar(float w, float h, bool rounds = false)
    {
        outer.setWidth(w);
        outer.setHeight(h);
        for (std::size_t i = 0; i < 12; ++i) {
            labels[i] = Cell(rounds);
            keys[i] = Cell(rounds);
            labelPointers[i] = &labels[i];
            keyPointers[i] = &keys[i];
        }
    }
    void run() { BarLayout::run(outer, labelPointers, keyPointers); }

    Cell outer;
    std::array<Cell, 12> labels;
    std::array<Cell, 12> keys;
    std::array<ControlGeometry*, 12> labelPointers{};
    std::array<ControlGeometry*, 12> keyPointers{};
};

} // namespace

class TestBarLayout final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workedValues_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("h");
        QTest::addColumn<float>("labelWidth");
        QTest::addColumn<float>("labelHeight");
        QTest::addColumn<float>("keyHeight");
        QTest::addColumn<float>("lastLeft");
        QTest::newRow("design size") << 7560.0F << 660.0F << 630.0F << 180.0F << 480.0F << 6930.0F;
        QTest::newRow("every screen, label capped") << 15285.0F << 1365.0F << 1273.75F << 315.0F << 1050.0F << 14011.25F;
        QTest::newRow("exactly at the cap") << 12000.0F << 1155.0F << 1000.0F << 315.0F << 840.0F << 11000.0F;
        QTest::newRow("small") << 1200.0F << 200.0F << 100.0F << 200.0F * 180.0F / 660.0F << 200.0F - 200.0F * 180.0F / 660.0F << 1100.0F;
        QTest::newRow("height 0") << 1200.0F << 0.0F << 100.0F << 0.0F << 0.0F << 1100.0F;
        QTest::newRow("narrower than 12 twips") << 6.0F << 660.0F << 0.5F << 180.0F << 480.0F << 5.5F;
    }

    void workedValues()
    {
        QFETCH(float, w);
        QFETCH(float, h);
        QFETCH(float, labelWidth);
        QFETCH(float, labelHeight);
        QFETCH(float, keyHeight);
        Bar bar(w, h);
        bar.run();
        for (int i = 0; i < 12; ++i) {
            const Cell& label = bar.labels[static_cast<std::size_t>(i)];
            const Cell& key = bar.keys[static_cast<std::size_t>(i)];
            QCOMPARE(label.width(), labelWidth);
            QCOMPARE(key.width(), labelWidth);
            QCOMPARE(label.height(), labelHeight);
            QCOMPARE(label.top(), 0.0F); // never set by the layout
            QCOMPARE(key.top(), labelHeight);
            QCOMPARE(key.height(), keyHeight);
            QCOMPARE(label.left(), labelWidth * static_cast<float>(i));
            QCOMPARE(key.left(), label.left());
        }
        QTEST(bar.keys[11].left(), "lastLeft");
    }

    void roundedWidthCarriesIntoTheLefts()
    {
        Bar bar(15285.0F, 1365.0F, true);
        bar.run();
        // 1273.75 twips is 84.92 px: the container takes 85 px = 1275 twips, and button i starts at i x 1275.
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(bar.keys[static_cast<std::size_t>(i)].width(), 1275.0F);
            QCOMPARE(bar.keys[static_cast<std::size_t>(i)].left(), 1275.0F * static_cast<float>(i));
        }
        QCOMPARE(bar.keys[11].left() + bar.keys[11].width(), 15300.0F); // a little beyond the right edge
        QCOMPARE(bar.labels[0].height(), 315.0F);
        QCOMPARE(bar.keys[0].height(), 1050.0F);
    }

    void eachStepUsesWhatTheRoundingContainerTook_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("h");
        QTest::addColumn<float>("labelHeight");
        QTest::addColumn<float>("keyHeight");
        QTest::addColumn<float>("width");
        // Whole pixels of 15 twips. Below the cap the key's height is H less the label's rounded
        // height, which differs from H less the computed one once rounded.
        QTest::newRow("below the cap, small") << 1200.0F << 200.0F << 60.0F << 135.0F << 105.0F;
        QTest::newRow("below the cap") << 10000.0F << 1000.0F << 270.0F << 735.0F << 840.0F;
        QTest::newRow("rounds up to the cap, not capped") << 12000.0F << 1150.0F << 315.0F << 840.0F << 1005.0F;
        QTest::newRow("above the cap") << 15285.0F << 1400.0F << 315.0F << 1080.0F << 1275.0F;
    }

    void eachStepUsesWhatTheRoundingContainerTook()
    {
        QFETCH(float, w);
        QFETCH(float, h);
        QFETCH(float, labelHeight);
        QFETCH(float, keyHeight);
        QFETCH(float, width);
        Bar bar(w, h, true);
        bar.run();
        for (std::size_t i = 0; i < 12; ++i) {
            const float left = width * static_cast<float>(i);
            QCOMPARE(bar.labels[i].height(), labelHeight);
            QCOMPARE(bar.keys[i].top(), labelHeight);
            QCOMPARE(bar.keys[i].height(), keyHeight);
            QCOMPARE(bar.labels[i].width(), width);
            QCOMPARE(bar.keys[i].width(), width);
            QCOMPARE(bar.labels[i].left(), left);
            QCOMPARE(bar.keys[i].left(), left);
        }
    }

    void widthAndHeightAreIndependent()
    {
        Bar a(7560.0F, 660.0F);
        a.run();
        Bar b(9000.0F, 660.0F);
        b.run();
        Bar c(7560.0F, 900.0F);
        c.run();
        for (std::size_t i = 0; i < 12; ++i) {
            QCOMPARE(a.labels[i].height(), b.labels[i].height());
            QCOMPARE(a.keys[i].height(), b.keys[i].height());
            QCOMPARE(a.keys[i].top(), b.keys[i].top());
            QCOMPARE(a.keys[i].left(), c.keys[i].left());
            QCOMPARE(a.keys[i].width(), c.keys[i].width());
        }
    }

    void anInvalidResultStopsThePass()
    {
        Bar huge(std::numeric_limits<float>::infinity(), 660.0F);
        QVERIFY_THROWS_EXCEPTION(KalvoraError, huge.run());
        QCOMPARE(huge.labels[0].height(), 180.0F); // the steps before the failure stay done
        QCOMPARE(huge.labels[0].width(), 0.0F);
        Bar tall(7560.0F, std::numeric_limits<float>::max());
        QVERIFY_THROWS_EXCEPTION(KalvoraError, tall.run()); // H x 180 overflows
    }
};

QTEST_MAIN(TestBarLayout)
#include "tst_BarLayout.moc"
