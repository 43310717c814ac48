#include "LayoutLoader.h"
#include "PropertyBag.h"
#include "QMButton.h"
#include "QMSIndex.h"
#include "QMSKey.h"
#include "Runtime.h"
#include "TextDatabase.h"
#include "Twips.h"
#include "Window.h"
#include "WindowManager.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

StdPicture picture(const char* file)
{
    return StdPicture::fromFile(QStringLiteral(KALVORA_LAYOUTS "/buttons/") + QString::fromLatin1(file));
}

StdFont tahomaBold()
{
    return StdFont::parse(QStringLiteral("Tahoma, 8.25pt, bold"));
}

} // namespace

class TestQMButton final : public QObject {
    Q_OBJECT

private:
    Runtime m_runtime;

private Q_SLOTS:
    void initTestCase()
    {
        QDir::setSearchPaths(QStringLiteral("layouts"), {QStringLiteral(KALVORA_LAYOUTS)});
        m_runtime.texts().insert(1031, QStringLiteral("Formular-Namen"), QStringLiteral("6"), QStringLiteral("Alarme"));
    }

    void designTimeState()
    {
        QMButton bar(m_runtime, nullptr);
        QCOMPARE(Twips::width(bar), 7560.0F);
        QCOMPARE(Twips::height(bar), 660.0F);
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(Twips::left(bar.label(i)), 630.0F * static_cast<float>(i));
            QCOMPARE(Twips::width(bar.label(i)), 630.0F);
            QCOMPARE(Twips::height(bar.label(i)), 180.0F);
            QCOMPARE(Twips::top(bar.key(i)), 180.0F);
            QCOMPARE(Twips::height(bar.key(i)), 480.0F);
            QVERIFY(bar.key(i).Picture().isNull());
            QCOMPARE(bar.label(i).stdFont(), StdFont());
        }
        // Key i has tab index i; the labels take no focus.
        QWidget* next = bar.key(0).nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, &bar.key(1));
        QCOMPARE(bar.label(0).focusPolicy(), Qt::NoFocus);
        QCOMPARE(bar.BorderStyle(), std::int16_t(0));
    }

    void aKeyPressRaisesOnlyItsButtonsEvent()
    {
        QMButton bar(m_runtime, nullptr);
        QList<int> raised;
        const std::array<void (QMButton::*)(), 12> events = {
            &QMButton::Button1Click, &QMButton::Button2Click,  &QMButton::Button3Click,  &QMButton::Button4Click,
            &QMButton::Button5Click, &QMButton::Button6Click,  &QMButton::Button7Click,  &QMButton::Button8Click,
            &QMButton::Button9Click, &QMButton::Button10Click, &QMButton::Button11Click, &QMButton::Button12Click};
        for (int n = 1; n <= 12; ++n)
            connect(&bar, events[static_cast<std::size_t>(n - 1)], this, [&raised, n] { raised.append(n); });
        bar.key(5).click();
        QCOMPARE(raised, QList<int>{6}); // raised synchronously, inside the press
        QTest::mouseClick(&bar.key(11), Qt::LeftButton);
        QCOMPARE(raised, (QList<int>{6, 12}));
    }

    void propertiesReadBackFromTheInnerControls()
    {
        QMButton bar(m_runtime, nullptr);
        QSignalSpy changed(&bar, &QMButton::PropertyChanged);
        bar.setText(3, QStringLiteral("3"));
        QCOMPARE(bar.Text(3), QStringLiteral("3"));
        QCOMPARE(bar.label(2).TextKey(), QStringLiteral("3"));
        QCOMPARE(bar.label(3).TextKey(), QString()); // only the third label changed
        bar.setIndexGroup(QStringLiteral("Formular-Namen"));
        QCOMPARE(bar.IndexGroup(), QStringLiteral("Formular-Namen"));
        for (int i = 0; i < 12; ++i)
            QCOMPARE(bar.label(i).TextGroup(), QStringLiteral("Formular-Namen"));
        bar.setText(6, QStringLiteral("6"));
        QCOMPARE(bar.label(5).text(), QStringLiteral("Alarme"));
        bar.setFont(tahomaBold());
        QCOMPARE(bar.Font(), tahomaBold());
        QCOMPARE(bar.label(0).stdFont(), tahomaBold());
        bar.setPicture(6, picture("alarms.gif"));
        QCOMPARE(bar.Picture(6), picture("alarms.gif"));
        QVERIFY(bar.Picture(7).isNull()); // never set: the empty reference
        const QRect keyBefore = bar.key(4).geometry();
        bar.setBorderStyle(1);
        QCOMPARE(bar.key(4).geometry(), keyBefore); // relative to the inner area, unchanged
        QCOMPARE(changed.count(), 6);
        QStringList names;
        for (const QList<QVariant>& call : changed)
            names.append(call.at(0).toString());
        QCOMPARE(names, (QStringList{QStringLiteral("Text3"), QStringLiteral("IndexGroup"), QStringLiteral("Text6"), QStringLiteral("Font"),
                                     QStringLiteral("Picture6"), QStringLiteral("BorderStyle")}));
        QVERIFY_THROWS_EXCEPTION(KalvoraError, bar.setText(13, QStringLiteral("x")));
    }

    void saveAndLoadRoundTrip()
    {
        QMButton original(m_runtime, nullptr);
        original.setPicture(1, picture("german.gif"));
        original.setPicture(12, picture("exit.gif"));
        original.setFont(tahomaBold());
        original.setIndexGroup(QStringLiteral("Formular-Namen"));
        for (int n = 1; n <= 12; ++n)
            original.setText(n, QString::number(n));
        original.setBorderStyle(1);
        PropertyBag bag(QStringLiteral("round trip"));
        original.WriteProperties(bag);
        const PropertyBag stored = PropertyBag::parse(bag.serialize(), QStringLiteral("round trip"));

        PropertyBag reading = stored;
        QMButton copy(m_runtime, nullptr);
        QSignalSpy changed(&copy, &QMButton::PropertyChanged);
        copy.ReadProperties(reading);
        QCOMPARE(changed.count(), 0); // loading announces nothing
        for (int n = 1; n <= 12; ++n) {
            QCOMPARE(copy.Picture(n), original.Picture(n));
            QCOMPARE(copy.Text(n), QString::number(n));
        }
        QCOMPARE(copy.Font(), tahomaBold());
        QCOMPARE(copy.IndexGroup(), QStringLiteral("Formular-Namen"));
        QCOMPARE(copy.BorderStyle(), std::int16_t(1));
        // Pictures only for the buttons that have one; no other entries missing.
        QStringList names;
        for (qsizetype i = 0; i < stored.count(); ++i)
            names.append(stored.nameAt(i));
        QVERIFY(names.contains(QStringLiteral("picture1")) && names.contains(QStringLiteral("picture12")));
        QVERIFY(!names.contains(QStringLiteral("picture2")));
    }

    void defaultsWriteNothing()
    {
        QMButton bar(m_runtime, nullptr);
        for (int n = 1; n <= 12; ++n)
            bar.setText(n, QStringLiteral("Text"));
        bar.setFont(bar.ambientFont());
        PropertyBag bag;
        bar.WriteProperties(bag);
        QVERIFY2(bag.isEmpty(), qPrintable(bag.count() ? bag.nameAt(0) : QString()));
    }

    void anEmptyBagLoadsTheDefaults()
    {
        QMButton bar(m_runtime, nullptr);
        bar.setPicture(1, picture("german.gif"));
        bar.setBorderStyle(1);
        PropertyBag empty;
        bar.ReadProperties(empty);
        QVERIFY(bar.Picture(1).isNull());
        QCOMPARE(bar.Font(), bar.ambientFont());
        QCOMPARE(bar.IndexGroup(), QString());
        QCOMPARE(bar.Text(7), QStringLiteral("Text"));
        QCOMPARE(bar.BorderStyle(), std::int16_t(0));
    }

    void namesMatchWithoutCaseAndOneFontServesAll()
    {
        PropertyBag bag;
        bag.write(QStringLiteral("PICTURE5"), picture("overview.gif"));
        bag.write(QStringLiteral("font"), tahomaBold());
        bag.write(QStringLiteral("IndexGROUP"), QStringLiteral("Formular-Namen"));
        bag.write(QStringLiteral("tExT2"), QStringLiteral("2"));
        bag.write(QStringLiteral("borderstyle"), std::int16_t(1));
        QMButton bar(m_runtime, nullptr);
        bar.ReadProperties(bag);
        QCOMPARE(bar.Picture(5), picture("overview.gif"));
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(bar.label(i).stdFont(), tahomaBold());
            QCOMPARE(bar.label(i).TextGroup(), QStringLiteral("Formular-Namen"));
        }
        QCOMPARE(bar.Text(2), QStringLiteral("2"));
        QCOMPARE(bar.BorderStyle(), std::int16_t(1));
    }

    void aBadEntryStopsLoadingThere()
    {
        PropertyBag bag;
        bag.write(QStringLiteral("Picture1"), picture("german.gif"));
        bag.write(QStringLiteral("Picture2"), QStringLiteral("not a picture"));
        bag.write(QStringLiteral("Text1"), QStringLiteral("1"));
        QMButton bar(m_runtime, nullptr);
        QVERIFY_THROWS_EXCEPTION(KalvoraError, bar.ReadProperties(bag));
        QCOMPARE(bar.Picture(1), picture("german.gif")); // loaded before the fault, stays
        QCOMPARE(bar.Text(1), QString());                 // after it: design-time state
    }

    void aBarOnAWindowLoadedHiddenIsLaidOut()
    {
        // A window carrying the bar at the size every screen gives it, loaded but never shown.
        QTemporaryDir folder;
        QFile layout(folder.filePath(QStringLiteral("Hidden.ui")));
        QVERIFY(layout.open(QIODevice::WriteOnly));
        layout.write("<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"Hidden\">"
                     "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>1024</width><height>768</height></rect></property>"
                     "<widget class=\"Kalvora.QMButton\" name=\"QMButton1\">"
                     "<property name=\"geometry\"><rect><x>2</x><y>674</y><width>1019</width><height>91</height></rect></property>"
                     "</widget></widget></ui>");
        layout.close();
        LayoutLoader loader;
        loader.registerControl<QMButton>(QString::fromLatin1(QMButton::className), m_runtime);
        WindowManager windows(loader, folder.path());
        QDir::setSearchPaths(QStringLiteral("layouts"), {QStringLiteral(KALVORA_LAYOUTS)}); // the manager pointed it elsewhere
        Window hidden(windows, QStringLiteral("Hidden"));
        auto& bar = hidden.control<QMButton>(QStringLiteral("QMButton1"));
        QVERIFY(!hidden.isVisible());
        QCOMPARE(Twips::width(bar), 15285.0F);
        QCOMPARE(Twips::height(bar), 1365.0F);
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(Twips::height(bar.label(i)), 315.0F);
            QCOMPARE(Twips::top(bar.key(i)), 315.0F);
            QCOMPARE(Twips::height(bar.key(i)), 1050.0F);
            QCOMPARE(Twips::width(bar.key(i)), 1275.0F); // 1273.75 taken as whole pixels
            QCOMPARE(Twips::left(bar.key(i)), 1275.0F * static_cast<float>(i));
        }
    }

    void gettersReadTheTwelfthLabel()
    {
        QMButton bar(m_runtime, nullptr);
        for (int i = 0; i < 12; ++i) {
            bar.label(i).setTextGroup(QStringLiteral("group %1").arg(i));
            bar.label(i).setStdFont(StdFont::parse(QStringLiteral("Tahoma, %1pt").arg(8 + i)));
        }
        QCOMPARE(bar.IndexGroup(), QStringLiteral("group 11"));
        QCOMPARE(bar.Font(), StdFont::parse(QStringLiteral("Tahoma, 19pt")));
    }

    void theStoredConfigurationLoads()
    {
        QMButton bar(m_runtime, nullptr);
        bar.setBagFile(QStringLiteral("layouts:QMButton.bag"));
        for (int n : {1, 2, 5, 6, 7, 8, 12})
            QVERIFY2(!bar.Picture(n).isNull(), qPrintable(QString::number(n)));
        for (int n : {3, 4, 9, 10, 11})
            QVERIFY(bar.Picture(n).isNull());
        QCOMPARE(bar.Picture(1).size(), QSize(75, 55));
        QCOMPARE(bar.Picture(12).size(), QSize(75, 60));
        QCOMPARE(bar.Font(), tahomaBold());
        QCOMPARE(bar.IndexGroup(), QStringLiteral("Formular-Namen"));
        QCOMPARE(bar.Text(10), QStringLiteral("10"));
        QCOMPARE(bar.BorderStyle(), std::int16_t(1));

        bar.resize(1019, 91); // the size on every screen
        bar.layoutButtons();
        QCOMPARE(Twips::height(bar.label(0)), 315.0F);
        QCOMPARE(Twips::top(bar.key(0)), 315.0F);
        QCOMPARE(Twips::height(bar.key(0)), 1050.0F);
        QCOMPARE(Twips::left(bar.key(11)), 11.0F * Twips::width(bar.key(0)));
    }
};

QTEST_MAIN(TestQMButton)
#include "tst_QMButton.moc"
