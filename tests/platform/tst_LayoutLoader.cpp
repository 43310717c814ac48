#include "KalvoraError.h"
#include "LayoutLoader.h"
#include "StdFont.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

/// A control with the kinds of stored settings layouts carry.
class Gauge final : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString processVariable MEMBER m_variable)
    Q_PROPERTY(double scaleMax MEMBER m_scaleMax)
    Q_PROPERTY(int marks MEMBER m_marks)
    Q_PROPERTY(bool blink MEMBER m_blink)

public:
    using QLabel::QLabel;
    QString m_variable;
    double m_scaleMax = 0;
    int m_marks = 0;
    bool m_blink = false;
};

QByteArray layout(const QByteArray& children)
{
    return "<?xml version=\"1.0\"?>\n<ui version=\"4.0\"><class>W</class>\n"
           "<widget class=\"QWidget\" name=\"W\">\n"
           "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>200</width><height>100</height></rect></property>\n"
        + children + "\n</widget>\n</ui>\n";
}

} // namespace

class TestLayoutLoader final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LayoutLoader m_loader;

    QString write(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("W.ui"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write test layout");
        file.write(content);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_loader.registerControl(QStringLiteral("Lib.Gauge"), Gauge::staticMetaObject, [](QWidget* parent) { return new Gauge(parent); });
    }

    void buildsRegisteredAndStandardControls()
    {
        const QString path = write(layout(
            "<widget class=\"Lib.Gauge\" name=\"bar1\">"
            "<property name=\"geometry\"><rect><x>-1</x><y>3</y><width>50</width><height>20</height></rect></property>"
            "<property name=\"processVariable\"><string>Ch1.Kalvora.Storage.WaterTank</string></property>"
            "<property name=\"scaleMax\"><double>50000</double></property>"
            "<property name=\"blink\"><bool>true</bool></property>"
            "<property name=\"typeface\"><string>Tahoma, 8.25pt, bold</string></property>"
            "</widget>"
            "<widget class=\"QPushButton\" name=\"cmdAdd\">"
            "<property name=\"typeface\" stdset=\"0\"><string>MS Sans Serif, 13.5pt, bold</string></property>"
            "<property name=\"backColor\" stdset=\"0\"><color><red>177</red><green>177</green><blue>177</blue></color></property>"
            "</widget>"));
        const std::unique_ptr<QWidget> root = m_loader.load(path);
        auto* gauge = root->findChild<Gauge*>(QStringLiteral("bar1"));
        QVERIFY(gauge);
        QCOMPARE(gauge->geometry(), QRect(-1, 3, 50, 20));
        QCOMPARE(gauge->m_variable, QStringLiteral("Ch1.Kalvora.Storage.WaterTank"));
        QCOMPARE(gauge->m_scaleMax, 50000.0);
        QVERIFY(gauge->m_blink);
        // 8.25 pt at 96 per inch is 11 pixels; 13.5 pt is 18.
        QCOMPARE(gauge->font().pixelSize(), 11);
        QCOMPARE(gauge->font().weight(), QFont::Bold);
        auto* button = root->findChild<QWidget*>(QStringLiteral("cmdAdd"));
        QCOMPARE(button->font().pixelSize(), 18);
        QCOMPARE(button->palette().color(QPalette::Window), QColor(177, 177, 177));
    }

    void everyLoadReadsTheFileAfresh()
    {
        const QString path = write(layout("<widget class=\"QLabel\" name=\"a\"/>"));
        QVERIFY(m_loader.load(path)->findChild<QWidget*>(QStringLiteral("a")));
        write(layout("<widget class=\"QLabel\" name=\"b\"/>"));
        const std::unique_ptr<QWidget> again = m_loader.load(path);
        QVERIFY(!again->findChild<QWidget*>(QStringLiteral("a")));
        QVERIFY(again->findChild<QWidget*>(QStringLiteral("b")));
    }

    void tabIndexOrdersTheFocus()
    {
        const QString path = write(layout(
            "<widget class=\"QPushButton\" name=\"second\"><property name=\"tabIndex\" stdset=\"0\"><number>2</number></property></widget>"
            "<widget class=\"QPushButton\" name=\"first\"><property name=\"tabIndex\" stdset=\"0\"><number>1</number></property></widget>"
            "<widget class=\"QPushButton\" name=\"third\"><property name=\"tabIndex\" stdset=\"0\"><number>3</number></property></widget>"));
        const std::unique_ptr<QWidget> root = m_loader.load(path);
        auto* first = root->findChild<QWidget*>(QStringLiteral("first"));
        QCOMPARE(first->nextInFocusChain()->objectName(), QStringLiteral("second"));
        QCOMPARE(first->nextInFocusChain()->nextInFocusChain()->objectName(), QStringLiteral("third"));
    }

    void badLayoutsNameFileAndPlace_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("mentions");
        QTest::newRow("XML error") << QByteArray("<?xml version=\"1.0\"?>\n<ui>\n<widget class=\"QWidget\" name=\"W\">\n</ui>\n")
                                   << QStringList{QStringLiteral("W.ui:4:"), QStringLiteral("XML error")};
        QTest::newRow("empty file") << QByteArray() << QStringList{QStringLiteral("W.ui")};
        QTest::newRow("not a layout") << QByteArray("<?xml version=\"1.0\"?><html/>") << QStringList{QStringLiteral("<html>")};
        QTest::newRow("unknown class") << layout("<widget class=\"Lib.Gauje\" name=\"bar7\"/>")
                                       << QStringList{QStringLiteral("Lib.Gauje"), QStringLiteral("bar7"), QStringLiteral("W.ui:")};
        QTest::newRow("unnamed control") << layout("<widget class=\"QLabel\"/>") << QStringList{QStringLiteral("has no name")};
        QTest::newRow("duplicate name") << layout("<widget class=\"QLabel\" name=\"x\"/><widget class=\"QLabel\" name=\"x\"/>")
                                        << QStringList{QStringLiteral("\"x\" is used twice")};
        QTest::newRow("unknown property") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"scaleMix\"><double>1</double></property></widget>")
                                          << QStringList{QStringLiteral("scaleMix"), QStringLiteral("\"g\"")};
        QTest::newRow("string for a number") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"scaleMax\"><string>full</string></property></widget>")
                                             << QStringList{QStringLiteral("scaleMax"), QStringLiteral("<string>")};
        QTest::newRow("number that is not") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"marks\"><number>2x</number></property></widget>")
                                            << QStringList{QStringLiteral("marks"), QStringLiteral("\"2x\"")};
        QTest::newRow("bool that is not") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"blink\"><bool>yes</bool></property></widget>")
                                          << QStringList{QStringLiteral("blink")};
        QTest::newRow("bad font") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"typeface\" stdset=\"0\"><string>Tahoma, big</string></property></widget>")
                                  << QStringList{QStringLiteral("\"l\""), QStringLiteral("Tahoma, big")};
        QTest::newRow("colour out of range") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"backColor\" stdset=\"0\"><color><red>300</red><green>0</green><blue>0</blue></color></property></widget>")
                                             << QStringList{QStringLiteral("backColor")};
        QTest::newRow("fractional pixel") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"geometry\"><rect><x>1.5</x><y>0</y><width>1</width><height>1</height></rect></property></widget>")
                                          << QStringList{QStringLiteral("whole pixels")};
        QTest::newRow("missing picture") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"picture\" stdset=\"0\"><string>/nonexistent/p.png</string></property></widget>")
                                         << QStringList{QStringLiteral("/nonexistent/p.png"), QStringLiteral("\"l\"")};
    }

    void badLayoutsNameFileAndPlace()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, mentions);
        const QString path = write(content);
        try {
            m_loader.load(path);
            QFAIL("the layout loaded");
        } catch (const KalvoraError& e) {
            QVERIFY2(e.message().contains(path), qPrintable(e.message()));
            for (const QString& mention : mentions)
                QVERIFY2(e.message().contains(mention), qPrintable(e.message()));
        }
    }

    void missingFileNamesIt()
    {
        const QString path = m_dir.filePath(QStringLiteral("Nowhere.ui"));
        try {
            m_loader.load(path);
            QFAIL("a missing layout loaded");
        } catch (const KalvoraError& e) {
            QVERIFY(e.message().contains(path));
        }
    }
};

QTEST_MAIN(TestLayoutLoader)
#include "tst_LayoutLoader.moc"
