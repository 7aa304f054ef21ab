#include "framedecoder.h"
#include "instrumentsimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void encodesWhatTheDecoderReads_data();
    void encodesWhatTheDecoderReads();
    void profiles_data();
    void profiles();
    void valuesFromAFile();
    void countIsExactWhenStoppedMidWrite();
};

void TestSimulator::encodesWhatTheDecoderReads_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QByteArray>("frameStart");
    QTest::addColumn<double>("decoded");

    QTest::newRow("16.0") << 16.0 << QByteArray("#0B4C") << 16.0;
    QTest::newRow("-0.1") << -0.1 << QByteArray("#0AAB") << -0.1;
    QTest::newRow("below the scale clamps to 0000") << -300.0 << QByteArray("#0000") << -273.2;
    QTest::newRow("above the scale clamps to FFFF") << 7000.0 << QByteArray("#FFFF") << 6280.3;
}

void TestSimulator::encodesWhatTheDecoderReads()
{
    QFETCH(double, celsius);
    const std::string frame = InstrumentSimulator::EncodeFrame(celsius, 0x1234);
    QCOMPARE(frame.size(), size_t(9));
    QTEST(QByteArray::fromStdString(frame.substr(0, 5)), "frameStart");
    QCOMPARE(frame.substr(5), std::string("1234"));

    FrameDecoder decoder([] { return SYSTEMTIME {}; });
    bool complete = false;
    for (char byte : frame)
        complete = decoder.Feed(static_cast<unsigned char>(byte));
    QVERIFY(complete);
    QTEST(decoder.Reading().temperature, "decoded");
}

void TestSimulator::profiles_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("expected");

    QTest::newRow("constant") << "constant:850.5" << true << 99.0 << 850.5;
    QTest::newRow("ramp halfway") << "ramp:100:200:60" << true << 30.0 << 150.0;
    QTest::newRow("ramp starts again") << "ramp:100:200:60" << true << 60.0 << 100.0;
    QTest::newRow("sine at a quarter period") << "sine:900:50:120" << true << 30.0 << 950.0;
    QTest::newRow("unknown kind") << "square:1:2:3" << false << 0.0 << 0.0;
    QTest::newRow("missing field") << "ramp:100:200" << false << 0.0 << 0.0;
    QTest::newRow("zero period") << "sine:900:50:0" << false << 0.0 << 0.0;
    QTest::newRow("not a number") << "constant:hot" << false << 0.0 << 0.0;
    QTest::newRow("missing file") << "file:/nonexistent/values.txt" << false << 0.0 << 0.0;
}

void TestSimulator::profiles()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, seconds);
    QFETCH(double, expected);
    TemperatureProfile profile;
    QString error;
    QCOMPARE(TemperatureProfile::Parse(text, &profile, &error), valid);
    if (valid)
        QVERIFY(qAbs(profile.At(0, seconds) - expected) < 1e-9);
    else
        QVERIFY(!error.isEmpty());
}

void TestSimulator::valuesFromAFile()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("20.5\n\n-3\n1200\n");
    file.close();
    TemperatureProfile profile;
    QString error;
    QVERIFY2(TemperatureProfile::Parse(QStringLiteral("file:") + file.fileName(), &profile, &error), qPrintable(error));
    const QList<double> got {profile.At(0, 0), profile.At(1, 0), profile.At(2, 0), profile.At(3, 0)};
    QCOMPARE(got, (QList<double> {20.5, -3.0, 1200.0, 20.5}));
}

void TestSimulator::countIsExactWhenStoppedMidWrite()
{
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const int listener = ::open(QFile::encodeName(simulator.DevicePath()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(listener >= 0);
    SimulatorOptions options;
    options.framesPerSecond = 0; // large writes, as fast as the line takes them
    std::atomic_bool stop {false};
    SimulatorCounts counts;
    std::thread sender([&] { counts = simulator.Run(options, stop); });

    // A slow listener keeps the sender part-way through a write when the stop comes.
    QByteArray received;
    char chunk[512];
    const auto readSome = [&] {
        const ssize_t got = ::read(listener, chunk, sizeof chunk);
        if (got > 0)
            received.append(chunk, got);
        return got;
    };
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) {
        readSome();
        QThread::usleep(200);
    }
    stop = true;
    sender.join();
    for (int idle = 0; idle < 20; ++idle) {
        if (readSome() > 0)
            idle = 0;
        else
            QThread::msleep(5);
    }
    ::close(listener);

    FrameDecoder decoder([] { return SYSTEMTIME {}; });
    long long frames = 0;
    for (const char byte : received)
        frames += decoder.Feed(static_cast<unsigned char>(byte));
    QVERIFY(frames > 1000);
    QCOMPARE(counts.frames, frames);
}

QTEST_APPLESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
