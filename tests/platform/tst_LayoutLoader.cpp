#include "FileKinds.h"
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
    Q_PROPERTY(short ticks MEMBER m_ticks)

public:
    using QLabel::QLabel;
    QString m_variable;
    double m_scaleMax = 0;
    int m_marks = 0;
    bool m_blink = false;
    short m_ticks = 0;
};

/// A layout with the children on line 5; the root's geometry is on line 4.
QByteArray layout(const QByteArray& children, const QByteArray& rootWidth = "200")
{
    return "<?xml version=\"1.0\"?>\n<ui version=\"4.0\"><class>W</class>\n"
           "<widget class=\"QWidget\" name=\"W\">\n"
           "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>" + rootWidth + "</width><height>100</height></rect></property>\n"
        + children + "\n</widget>\n</ui>\n";
}

/// Controls nested `depth` deep, each inside the one before, all on line 5.
QByteArray nested(int depth)
{
    QByteArray open;
    QByteArray close;
    for (int i = 0; i < depth; ++i) {
        open += "<widget class=\"QWidget\" name=\"n" + QByteArray::number(i) + "\">";
        close += "</widget>";
    }
    return layout(open + close);
}

} // namespace

class TestLayoutLoader final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LayoutLoader m_loader;

    /// Writes the layout file; content "kind:<kind>" makes it a file of that kind (replaceWithKind).
    QString write(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("W.ui"));
        QFile::remove(path); // a FIFO of an earlier row would hold the open below
        if (content.startsWith("kind:")) {
            if (!replaceWithKind(path, QString::fromLatin1(content.mid(5))))
                qFatal("cannot make the test layout");
            return path;
        }
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
        // What the toolkit's recursive reader or the painting would not survive, refused at its place.
        QTest::newRow("nesting 40 deep") << nested(40) << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("deeper than 32 levels")};
        QTest::newRow("nesting 30000 deep") << nested(30000) << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("deeper than 32 levels")};
        QTest::newRow("huge root width") << layout({}, "2147483647") << QStringList{QStringLiteral("W.ui:4:"), QStringLiteral("\"geometry\" of control \"W\""), QStringLiteral("width 2147483647 is outside 1 to 4096")};
        QTest::newRow("empty root") << layout({}, "0") << QStringList{QStringLiteral("W.ui:4:"), QStringLiteral("width 0 is outside 1 to 4096")};
        QTest::newRow("root width not a number") << layout({}, "wide") << QStringList{QStringLiteral("W.ui:4:"), QStringLiteral("width \"wide\" is not a whole number")};
        QTest::newRow("unknown root property") << layout("<property name=\"windowTitel\"><string>K</string></property>") << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("\"W\" (QWidget) has no property \"windowTitel\"")};
        QTest::newRow("root title of the wrong kind") << layout("<property name=\"windowTitle\"><number>7</number></property>") << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("windowTitle"), QStringLiteral("<number>")};
        QTest::newRow("tall control") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"geometry\"><rect><x>0</x><y>0</y><width>10</width><height>100000</height></rect></property></widget>") << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("height 100000 is outside 0 to 4096")};
        QTest::newRow("far-off control") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"geometry\"><rect><x>-99999</x><y>0</y><width>10</width><height>10</height></rect></property></widget>") << QStringList{QStringLiteral("\"l\""), QStringLiteral("x -99999 is outside -16384 to 16384")};
        QTest::newRow("huge minimum size") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"minimumSize\"><size><width>5000000</width><height>1</height></size></property></widget>") << QStringList{QStringLiteral("minimumSize"), QStringLiteral("width 5000000")};
        QTest::newRow("huge typeface") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"typeface\"><string>Tahoma, 900pt</string></property></widget>") << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("\"g\""), QStringLiteral("900 pt is outside 1 to 144 points")};
        QTest::newRow("huge font") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"font\"><font><pointsize>5000</pointsize></font></property></widget>") << QStringList{QStringLiteral("\"l\""), QStringLiteral("pointsize 5000 is outside 1 to 144 points")};
        QTest::newRow("huge font of a list item") << layout("<widget class=\"QComboBox\" name=\"c\"><item><property name=\"font\"><font><pointsize>5000</pointsize></font></property></item></widget>") << QStringList{QStringLiteral("W.ui:5:"), QStringLiteral("pointsize 5000")};
        QTest::newRow("beyond the type") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"ticks\"><number>40000</number></property></widget>") << QStringList{QStringLiteral("\"ticks\""), QStringLiteral("40000 does not fit the property (-32768 to 32767)")};
        QTest::newRow("beyond any int") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"marks\"><number>99999999999</number></property></widget>") << QStringList{QStringLiteral("\"marks\""), QStringLiteral("does not fit")};
        QTest::newRow("beyond sane numbers") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"marks\"><number>20000000</number></property></widget>") << QStringList{QStringLiteral("\"marks\""), QStringLiteral("outside -10000000 to 10000000")};
        QTest::newRow("negative tab index") << layout("<widget class=\"QPushButton\" name=\"b\"><property name=\"tabIndex\" stdset=\"0\"><number>-1</number></property></widget>") << QStringList{QStringLiteral("\"tabIndex\""), QStringLiteral("outside 0 to 9999")};
        QTest::newRow("infinite scale") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"scaleMax\"><double>inf</double></property></widget>") << QStringList{QStringLiteral("\"scaleMax\""), QStringLiteral("not a finite number")};
        QTest::newRow("astronomic scale") << layout("<widget class=\"Lib.Gauge\" name=\"g\"><property name=\"scaleMax\"><double>1e300</double></property></widget>") << QStringList{QStringLiteral("\"scaleMax\""), QStringLiteral("not a finite number of at most")};
        QTest::newRow("unknown alignment") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"alignment\"><set>Qt::AlignMiddle</set></property></widget>") << QStringList{QStringLiteral("\"alignment\""), QStringLiteral("Qt::AlignMiddle")};
        QTest::newRow("document type") << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE ui [<!ENTITY a \"aaaa\">]>\n<ui/>") << QStringList{QStringLiteral("W.ui:2:"), QStringLiteral("document type declaration")};
        QTest::newRow("oversized file") << layout("<!--" + QByteArray(17 * 1024 * 1024, 'x') + "-->") << QStringList{QStringLiteral("more than the 16777216")};
        QTest::newRow("FIFO") << QByteArray("kind:fifo") << QStringList{QStringLiteral("not a regular file but a FIFO")};
        QTest::newRow("link to /dev/zero") << QByteArray("kind:link to /dev/zero") << QStringList{QStringLiteral("not a regular file but a character device")};
        QTest::newRow("missing picture") << layout("<widget class=\"QLabel\" name=\"l\"><property name=\"picture\" stdset=\"0\"><string>/nonexistent/p.png</string></property></widget>")
                                         << QStringList{QStringLiteral("/nonexistent/p.png"), QStringLiteral("\"l\"")};
    }

    void badLayoutsNameFileAndPlace()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, mentions);
        const QString path = write(content);
        const ReadWatchdog watchdog(path);
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
