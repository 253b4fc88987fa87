#include "common/TestMain.h"

#include "log/ColorRules.h"

class TestColorRules : public QObject
{
    Q_OBJECT

private slots:
    void lightenColor_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("amount");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("0 unchanged") << QColor(10, 20, 30) << 0 << QColor(10, 20, 30);
        QTest::newRow("negative unchanged") << QColor(10, 20, 30) << -5 << QColor(10, 20, 30);
        QTest::newRow("1000 white") << QColor(10, 20, 30) << 1000 << QColor(255, 255, 255);
        QTest::newRow("above 1000 white") << QColor(10, 20, 30) << 5000 << QColor(255, 255, 255);
        QTest::newRow("half truncates") << QColor(0, 1, 100) << 500 << QColor(127, 128, 177);
        QTest::newRow("800") << QColor(50, 50, 50) << 800 << QColor(214, 214, 214);
    }
    void lightenColor()
    {
        QFETCH(QColor, color);
        QFETCH(int, amount);
        QFETCH(QColor, expected);
        QCOMPARE(LightenColor(color, amount), expected);
    }

    void darkButtonFace()
    {
        QVERIFY(IsDarkButtonFace(QColor(0x40, 0x40, 0x40)));
        QVERIFY(!IsDarkButtonFace(QColor(0xF0, 0xF0, 0xF0)));
        // Blue weighs most: 0x5B8D80 is 6,000,000 exactly.
        QVERIFY(IsDarkButtonFace(QColor(0x80, 0x8D, 0x5B)));
        QVERIFY(!IsDarkButtonFace(QColor(0x81, 0x8D, 0x5B)));
    }

    void contrastRatio_data()
    {
        QTest::addColumn<QColor>("a");
        QTest::addColumn<QColor>("b");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("white on black") << QColor(Qt::white) << QColor(Qt::black) << 21.0;
        QTest::newRow("same colour") << QColor(0x31, 0x6A, 0xC5) << QColor(0x31, 0x6A, 0xC5) << 1.0;
        // Mid grey #777 is the classic just-below-AA grey on white.
        QTest::newRow("#777 on white") << QColor(0x77, 0x77, 0x77) << QColor(Qt::white) << 4.48;
    }
    void contrastRatio()
    {
        QFETCH(QColor, a);
        QFETCH(QColor, b);
        QFETCH(double, ratio);
        QVERIFY2(qAbs(ContrastRatio(a, b) - ratio) < 0.01, qPrintable(QString::number(ContrastRatio(a, b))));
    }
};

FERROVANE_TEST_MAIN(TestColorRules)
#include "tst_colorrules.moc"
