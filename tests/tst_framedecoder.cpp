#include "framedecoder.h"

#include <QTest>

namespace {

struct Decoded
{
    QList<double> temperatures;
    QList<int> stamps; // which "#" stamped each reading: 1 for the first "#" of the input, …
};

// Feeds the bytes; every "#" is stamped with the next number in its milliseconds.
Decoded Decode(const QByteArray &bytes)
{
    int hashes = 0;
    FrameDecoder decoder([&hashes] {
        SYSTEMTIME st {};
        st.wMilliseconds = static_cast<std::uint16_t>(++hashes);
        return st;
    });
    Decoded out;
    for (char byte : bytes) {
        if (decoder.Feed(static_cast<unsigned char>(byte))) {
            out.temperatures.append(decoder.Reading().temperature);
            out.stamps.append(decoder.Reading().time.wMilliseconds);
        }
    }
    return out;
}

} // namespace

class TestFrameDecoder : public QObject
{
    Q_OBJECT

private slots:
    void temperatures_data();
    void temperatures();
    void streams_data();
    void streams();
    void stampsWithTheLocalClock();
};

void TestFrameDecoder::temperatures_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<double>("celsius");

    QTest::newRow("0B4C") << QByteArray("#0B4C0000") << 16.0;
    QTest::newRow("0AAC") << QByteArray("#0AAC1234") << 0.0;
    QTest::newRow("0AAB") << QByteArray("#0AABFFFF") << -0.1;
    QTest::newRow("0000") << QByteArray("#00000000") << -273.2;
    QTest::newRow("FFFF") << QByteArray("#FFFF0000") << 6280.3;
    QTest::newRow("lower case ffff") << QByteArray("#ffffabcd") << 6280.3;
    QTest::newRow("mixed case 0b4C") << QByteArray("#0b4Cc0dE") << 16.0;
    QTest::newRow("1200.5") << QByteArray("#39910000") << 1200.5;
}

void TestFrameDecoder::temperatures()
{
    QFETCH(QByteArray, frame);
    QFETCH(double, celsius);
    const Decoded out = Decode(frame);
    QCOMPARE(out.temperatures.size(), 1);
    QCOMPARE(out.temperatures[0], celsius);
}

void TestFrameDecoder::streams_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<double>>("temperatures");
    QTest::addColumn<QList<int>>("stamps");

    QTest::newRow("two frames back to back, each its own stamp")
        << QByteArray("#0B4C0000#0AAC0000") << QList<double> {16.0, 0.0} << QList<int> {1, 2};
    QTest::newRow("complete at the eighth digit; a ninth digit is ignored")
        << QByteArray("#0B4C00001#0AAC0000") << QList<double> {16.0, 0.0} << QList<int> {1, 2};
    QTest::newRow("digits before the first # give nothing")
        << QByteArray("0AAC00000B4C#0B4C0000") << QList<double> {16.0} << QList<int> {1};
    QTest::newRow("# inside a frame restarts it with a new stamp")
        << QByteArray("#0AA#0B4C0000") << QList<double> {16.0} << QList<int> {2};
    QTest::newRow("CR drops a frame") << QByteArray("#0B4C\r0000#0AAC0000") << QList<double> {0.0} << QList<int> {2};
    QTest::newRow("LF drops a frame") << QByteArray("#0B4C000\n0#0AAC0000") << QList<double> {0.0} << QList<int> {2};
    QTest::newRow("space drops a frame") << QByteArray("#0B4C 0000") << QList<double> {} << QList<int> {};
    QTest::newRow("letter beyond F drops a frame") << QByteArray("#0B4G0000") << QList<double> {} << QList<int> {};
    QTest::newRow("byte 0x80 and above drops a frame")
        << QByteArray("#0B4\xC3\xA9" "0000#0AAC0000") << QList<double> {0.0} << QList<int> {2};
    QTest::newRow("NUL drops a frame") << QByteArray("#0B4C00\0" "00", 10) << QList<double> {} << QList<int> {};
    QTest::newRow("half a frame at the end gives nothing") << QByteArray("#0B4C000") << QList<double> {} << QList<int> {};
    QTest::newRow("noise between frames is ignored")
        << QByteArray("\r\n#0B4C0000 xyz\x01\xFF" "12#0AAC0000\r\n") << QList<double> {16.0, 0.0} << QList<int> {1, 2};
}

void TestFrameDecoder::streams()
{
    QFETCH(QByteArray, bytes);
    const Decoded out = Decode(bytes);
    QTEST(out.temperatures, "temperatures");
    QTEST(out.stamps, "stamps");
}

void TestFrameDecoder::stampsWithTheLocalClock()
{
    const auto msOf = [](const SYSTEMTIME &st) { return qint64(LocalSeconds(st)) * 1000 + st.wMilliseconds; };
    // The stamp is the local time of the "#", not of the frame's last digit.
    FrameDecoder decoder;
    SYSTEMTIME before {};
    GetLocalTime(&before);
    for (char byte : QByteArray("#0B4C"))
        decoder.Feed(static_cast<unsigned char>(byte));
    QTest::qSleep(700);
    bool complete = false;
    for (char byte : QByteArray("0000"))
        complete = decoder.Feed(static_cast<unsigned char>(byte));
    SYSTEMTIME after {};
    GetLocalTime(&after);

    QVERIFY(complete);
    const qint64 stamped = msOf(decoder.Reading().time);
    QVERIFY2(stamped >= msOf(before), "stamped before the # was fed");
    QVERIFY2(msOf(after) - stamped >= 700, "stamped at the last digit, not at the #");
}

QTEST_APPLESS_MAIN(TestFrameDecoder)
#include "tst_framedecoder.moc"
