// File names as the system gives them: every byte string survives the round
// trip, and valid UTF-8 converts exactly as Qt converts it.
#include "nativename.h"

#include <QTest>

class TestNativeName : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
};

void TestNativeName::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("ASCII") << QByteArray("/data/run 1") << true;
    QTest::newRow("Cyrillic in UTF-8") << QByteArray("/данные/печь") << true;
    QTest::newRow("four-byte sequence") << QByteArray("/\xf0\x9f\x94\xa5") << true;
    QTest::newRow("CP1251") << QByteArray("/\xc4\xe0\xed\xed\xfb\xe5") << false;
    QTest::newRow("KOI8-R") << QByteArray("/\xe4\xc1\xce\xce\xd9\xc5") << false;
    QTest::newRow("Latin-1 between UTF-8") << QByteArray("/caf\xe9/дом") << false;
    QTest::newRow("overlong slash") << QByteArray("/a\xc0\xaf" "b") << false;
    QTest::newRow("UTF-8 of a surrogate") << QByteArray("/\xed\xb3\xa9") << false;
    QTest::newRow("sequence cut at the end") << QByteArray("/\xd0") << false;
    QTest::newRow("past U+10FFFF") << QByteArray("/\xf4\x90\x80\x80") << false;
}

void TestNativeName::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    const QString name = FromNativeName(bytes);
    QCOMPARE(ToNativeName(name), bytes);
    QCOMPARE(QtCanName(name), utf8);
    if (utf8)
        QCOMPARE(name, QString::fromUtf8(bytes));
}

QTEST_MAIN(TestNativeName)
#include "tst_nativename.moc"
