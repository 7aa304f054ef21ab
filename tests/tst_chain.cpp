// The chain of a record folder, kept by the real program on the simulated
// instrument, checked by the real calorivista-verify after each kind of
// change made after the fact.
#include "dialogtest.h"
#include "recordchain.h"
#include "stationkey.h"
#include "witnessfile.h"

#include <QProcess>

class TestChain : public DialogTest
{
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }
    void verifyNamesEveryChange_data();
    void verifyNamesEveryChange();

private:
    // A run of three saves, stopped: its folder.
    void Record();
    std::pair<int, QString> Verify(const QStringList &extra = {}) const;
};

void TestChain::Record()
{
    WriteSettings(m_sim->DevicePath(), 1);
    MakeDialog();
    m_dlg->accept();
    for (int save = 0; save < 3; ++save) {
        Send(5, 1500.0 + 100 * save);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(Records()).filePath(QStringLiteral("%1").arg(save, 4, 10, QLatin1Char('0')))), 5000);
    }
    m_dlg->OnStop();
}

std::pair<int, QString> TestChain::Verify(const QStringList &extra) const
{
    QProcess verify;
    verify.start(QStringLiteral(CALORIVISTA_VERIFY), QStringList {Records()} + extra);
    verify.waitForFinished(30000);
    return {verify.exitCode(), QString::fromUtf8(verify.readAllStandardOutput())};
}

void TestChain::verifyNamesEveryChange_data()
{
    QTest::addColumn<QString>("change"); // what is done to the folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("named");
    QTest::newRow("untouched") << "" << 0 << "untouched";
    QTest::newRow("a digit changed") << "digit" << 1 << "0001: changed";
    QTest::newRow("a data file removed") << "remove" << 1 << "0002: removed";
    QTest::newRow("a file added") << "add" << 1 << "0099: added after the fact";
    QTest::newRow("events cut short") << "cut" << 1 << "events.csv: cut short";
    QTest::newRow("a chain line altered") << "line" << 1 << "the chain breaks at line 2";
    QTest::newRow("the last line and its file removed, no witness") << "tail" << 0 << "cannot be told";
    QTest::newRow("the last line and its file removed, a witness") << "tail witnessed" << 1 << "which the witness holds, were removed";
    QTest::newRow("untouched, a witness") << "witnessed" << 0 << "untouched";
    QTest::newRow("no chain") << "unsigned" << 2 << "unsigned";
}

void TestChain::verifyNamesEveryChange()
{
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, named);
    Record();
    const QDir records(Records());
    // Every data file, events.csv and the comment file are entered, and the
    // key that signed them is the station's own.
    RecordChain chain;
    chain.Open(Records());
    QVERIFY2(chain.Lines() >= 5, qPrintable(records.entryList(QDir::Files).join(' ') + " | " + QDir(Journals()).entryList(QDir::Files).join(' ')));
    const std::optional<StationKey> key = StationKey::LoadOrMake(Journals(), nullptr);
    QVERIFY(key);
    QVERIFY(QFile(QDir(Journals()).filePath(QLatin1String(StationKey::kFileName))).permissions()
            == (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser));

    // The collector's witness of this chain: every line as the station published it.
    QFile chainFile(records.filePath(QLatin1String(RecordChain::kFileName)));
    QVERIFY(chainFile.open(QIODevice::ReadOnly));
    QByteArray witnessed = WitnessFile::kHeader;
    for (const QByteArray &text : chainFile.readAll().trimmed().split('\n').mid(1)) {
        const std::optional<ChainLine> line = ChainLine::Parse(text.trimmed());
        QVERIFY(line);
        witnessed += WitnessFile::Line(Records(), *line);
    }
    chainFile.close();
    const QString witness = QDir(Records()).filePath(QStringLiteral("../collector"));
    QVERIFY(QDir().mkpath(witness + QStringLiteral("/lab-pc")));
    QFile witnessFile(witness + QStringLiteral("/lab-pc/") + QLatin1String(WitnessFile::kFileName));
    QVERIFY(witnessFile.open(QIODevice::WriteOnly) && witnessFile.write(witnessed) == witnessed.size());
    witnessFile.close();

    const auto rewrite = [&records](const QString &name, const std::function<void(QByteArray &)> &edit) {
        QFile file(records.filePath(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        edit(bytes);
        file.resize(0);
        file.seek(0);
        file.write(bytes);
    };
    if (change == QLatin1String("digit")) {
        rewrite(QStringLiteral("0001"), [](QByteArray &bytes) {
            const qsizetype at = bytes.indexOf("1600") + 1; // a reading of the second save
            QVERIFY(at > 0);
            bytes[at] = '7';
        });
    } else if (change == QLatin1String("remove")) {
        QVERIFY(QFile::remove(records.filePath(QStringLiteral("0002"))));
    } else if (change == QLatin1String("add")) {
        QVERIFY(QFile::copy(records.filePath(QStringLiteral("0000")), records.filePath(QStringLiteral("0099"))));
    } else if (change == QLatin1String("cut")) {
        rewrite(QStringLiteral("events.csv"), [](QByteArray &bytes) { bytes.chop(bytes.size() - bytes.lastIndexOf("\r\n", bytes.size() - 3) - 2); });
    } else if (change == QLatin1String("line")) {
        // A file's hash replaced by that of the changed file, so the line
        // matches the file again: the chain then no longer follows.
        rewrite(QLatin1String(RecordChain::kFileName), [](QByteArray &bytes) {
            QList<QByteArray> lines = bytes.split('\n');
            lines[2].replace(lines[2].indexOf(',', lines[2].indexOf(',', lines[2].indexOf(',', lines[2].indexOf(',') + 1) + 1) + 1) + 1, 3, "abc");
            bytes = lines.join('\n');
        });
    } else if (change.startsWith(QLatin1String("tail"))) {
        // What an editor who knows the chain's form could do without the key:
        // drop the last data file and every line from its entry on.
        rewrite(QLatin1String(RecordChain::kFileName), [](QByteArray &bytes) {
            bytes.truncate(bytes.indexOf(",0003,") - 1);
            bytes.truncate(bytes.lastIndexOf('\n') + 1);
        });
        QVERIFY(QFile::remove(records.filePath(QStringLiteral("0003"))));
        // and cut events.csv back to its last entry left.
        QFile chainFile(records.filePath(QLatin1String(RecordChain::kFileName)));
        QVERIFY(chainFile.open(QIODevice::ReadOnly));
        qint64 eventsSize = -1;
        for (const QByteArray &text : chainFile.readAll().split('\n'))
            if (const std::optional<ChainLine> line = ChainLine::Parse(text.trimmed()); line && line->file == QLatin1String("events.csv"))
                eventsSize = line->size;
        QVERIFY(eventsSize > 0 && QFile::resize(records.filePath(QStringLiteral("events.csv")), eventsSize));
    } else if (change == QLatin1String("unsigned")) {
        QVERIFY(QFile::remove(records.filePath(QLatin1String(RecordChain::kFileName))));
    }
    const auto [code, said] = Verify(change.endsWith(QLatin1String("witnessed")) ? QStringList {QStringLiteral("--witness"), witness} : QStringList());
    QVERIFY2(said.contains(named), qPrintable(said));
    QCOMPARE(code, exitCode);
    if (exitCode == 0)
        QVERIFY2(said.contains(key->Fingerprint()), qPrintable(said));
}

QTEST_MAIN(TestChain)
#include "tst_chain.moc"
