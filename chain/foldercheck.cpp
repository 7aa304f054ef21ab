#include "foldercheck.h"

#include "nativefs.h"
#include "recordchain.h"
#include "sha256.h"
#include "stationkey.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace {

using Kind = FolderFinding::Kind;

struct ReadChain
{
    std::vector<ChainLine> lines;
    QHash<QString, const ChainLine *> lastOf; // each file's last line
    qint64 firstBroken = 0;
    qint64 firstBadSignature = 0;
};

ReadChain Read(const QByteArray &bytes)
{
    ReadChain chain;
    QList<QByteArray> texts = bytes.split('\n');
    if (!texts.isEmpty() && texts.constLast().isEmpty())
        texts.removeLast();
    QByteArray previous = ChainLine::ChainStart();
    qint64 expected = 1;
    for (qsizetype i = 1; i < texts.size(); ++i) { // after the header
        QByteArray text = texts[i];
        const bool whole = i + 1 < texts.size() || bytes.endsWith('\n'); // else torn
        if (text.endsWith('\r'))
            text.chop(1);
        std::optional<ChainLine> line = whole ? ChainLine::Parse(text) : std::nullopt;
        if (!line || line->number != expected || !line->Follows(previous)) {
            if (!chain.firstBroken)
                chain.firstBroken = line ? line->number : expected;
            if (!line) {
                ++expected;
                continue;
            }
        }
        if (!chain.firstBadSignature && !line->SignatureHolds())
            chain.firstBadSignature = line->number;
        previous = line->chain;
        expected = line->number + 1;
        chain.lines.push_back(*line);
    }
    for (const ChainLine &line : chain.lines)
        chain.lastOf.insert(line.file, &line);
    return chain;
}

void CheckFile(const QString &folder, const ChainLine &line, std::vector<FolderFinding> &findings)
{
    const QString path = QDir(folder).filePath(line.file);
    if (!PathExists(path)) {
        findings.push_back({Kind::Removed, line.file, line.number});
        return;
    }
    const std::optional<FileDigest> now = DigestOfFile(path);
    if (!now || now->size < line.size) {
        findings.push_back({now ? Kind::CutShort : Kind::Changed, line.file, line.number});
    } else if (now->size == line.size) {
        if (now->sha256 != line.sha256)
            findings.push_back({Kind::Changed, line.file, line.number});
    } else {
        const std::optional<FileDigest> entered = DigestOfFilePrefix(path, line.size);
        findings.push_back({entered && entered->sha256 == line.sha256 ? Kind::Grown : Kind::Changed, line.file, line.number});
    }
}

void CompareWithWitness(const std::vector<ChainLine> &lines, const WitnessSource &source,
                        std::vector<FolderFinding> &findings)
{
    const std::optional<WitnessLines> witness
        = lines.empty() || lines.front().number != 1 ? std::nullopt : source(lines.front());
    if (!witness || witness->empty()) {
        findings.push_back({Kind::UnknownToWitness, QString(), 0});
        return;
    }
    QHash<qint64, const ChainLine *> held;
    for (const ChainLine &line : lines)
        held.insert(line.number, &line);
    qint64 firstRemoved = 0;
    for (const ChainLine &published : *witness) {
        const auto found = held.constFind(published.number);
        if (found == held.constEnd()) {
            if (!firstRemoved)
                firstRemoved = published.number;
        } else if ((*found)->Text() != published.Text()) {
            findings.push_back({Kind::WitnessDiffers, published.file, published.number});
        }
    }
    if (firstRemoved)
        findings.push_back({Kind::TailRemoved, QString(), firstRemoved});
}

} // namespace

std::vector<ChainLine> ChainLinesOf(const QString &folder)
{
    QFile file;
    if (!OpenNamedFile(file, QDir(folder).filePath(QLatin1String(RecordChain::kFileName)), QIODevice::ReadOnly)
        || file.size() > ChainLine::kMaxFileBytes)
        return {};
    const QByteArray bytes = file.read(ChainLine::kMaxFileBytes);
    return bytes.startsWith(ChainLine::kHeader) ? Read(bytes).lines : std::vector<ChainLine>();
}

bool IsOutsideChain(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) || name == QLatin1String(RecordChain::kFileName)
        || name == QLatin1String("conf.cnfg");
}

FolderCheck CheckFolder(const QString &folder, const WitnessSource &witness)
{
    FolderCheck check;
    QStringList names;
    if (!ListFiles(folder, &names)) {
        check.problem = QStringLiteral("the folder cannot be read");
        return check;
    }
    QFile file;
    if (!OpenNamedFile(file, QDir(folder).filePath(QLatin1String(RecordChain::kFileName)), QIODevice::ReadOnly)) {
        check.problem = PathExists(QDir(folder).filePath(QLatin1String(RecordChain::kFileName)))
            ? QStringLiteral("its chain cannot be read")
            : QStringLiteral("it is unsigned: it has no chain");
        return check;
    }
    if (file.size() > ChainLine::kMaxFileBytes) {
        check.problem = QStringLiteral("its chain is larger than any this program writes");
        return check;
    }
    const QByteArray bytes = file.read(ChainLine::kMaxFileBytes);
    if (!bytes.startsWith(ChainLine::kHeader)) {
        check.problem = QStringLiteral("its chain is not one this program writes");
        return check;
    }
    const ReadChain chain = Read(bytes);
    check.lines = chain.lines.empty() ? 0 : chain.lines.back().number;
    check.lastChain = chain.lines.empty() ? QByteArray() : chain.lines.back().chain;
    for (const ChainLine &line : chain.lines) {
        const QString fingerprint = StationKey::FingerprintOf(QByteArray::fromHex(line.key));
        if (!check.fingerprints.contains(fingerprint))
            check.fingerprints.append(fingerprint);
    }
    if (chain.firstBroken)
        check.findings.push_back({Kind::ChainBroken, QString(), chain.firstBroken});
    if (chain.firstBadSignature)
        check.findings.push_back({Kind::BadSignature, QString(), chain.firstBadSignature});

    names.sort();
    for (const QString &name : names) {
        if (IsOutsideChain(name))
            continue;
        const auto last = chain.lastOf.constFind(name);
        if (last == chain.lastOf.constEnd())
            check.findings.push_back({Kind::Added, name, 0});
        else
            CheckFile(folder, **last, check.findings);
    }
    for (const ChainLine &line : chain.lines)
        if (chain.lastOf.value(line.file) == &line && !names.contains(line.file))
            check.findings.push_back({Kind::Removed, line.file, line.number});

    if (witness) {
        check.witnessed = true;
        CompareWithWitness(chain.lines, witness, check.findings);
    }
    check.outcome = check.findings.empty() ? FolderCheck::Outcome::Untouched : FolderCheck::Outcome::Changed;
    return check;
}

QString FolderFinding::English() const
{
    switch (kind) {
    case Kind::Changed:
        return QStringLiteral("%1: changed since it was entered (chain line %2)").arg(file).arg(line);
    case Kind::CutShort:
        return QStringLiteral("%1: cut short since it was entered (chain line %2)").arg(file).arg(line);
    case Kind::Grown:
        return QStringLiteral("%1: written to after its last entry (chain line %2)").arg(file).arg(line);
    case Kind::Removed:
        return QStringLiteral("%1: removed (entered in chain line %2)").arg(file).arg(line);
    case Kind::Added:
        return QStringLiteral("%1: added after the fact (in no chain line)").arg(file);
    case Kind::ChainBroken:
        return QStringLiteral("the chain breaks at line %1").arg(line);
    case Kind::BadSignature:
        return QStringLiteral("the signature of chain line %1 does not hold").arg(line);
    case Kind::TailRemoved:
        return QStringLiteral("chain lines from %1 on, which the witness holds, were removed").arg(line);
    case Kind::WitnessDiffers:
        return QStringLiteral("chain line %1 (%2) differs from the witness's").arg(line).arg(file);
    case Kind::UnknownToWitness:
        return QStringLiteral("the witness holds no line of this chain");
    }
    return {};
}

QString FolderFinding::Russian() const
{
    switch (kind) {
    case Kind::Changed:
        return QStringLiteral("%1 изменён").arg(file);
    case Kind::CutShort:
        return QStringLiteral("%1 укорочен").arg(file);
    case Kind::Grown:
        return QStringLiteral("%1 дописан после записи в цепочку").arg(file);
    case Kind::Removed:
        return QStringLiteral("%1 удалён").arg(file);
    case Kind::Added:
        return QStringLiteral("%1 добавлен позже").arg(file);
    case Kind::ChainBroken:
        return QStringLiteral("цепочка нарушена в строке %1").arg(line);
    case Kind::BadSignature:
        return QStringLiteral("подпись строки %1 неверна").arg(line);
    case Kind::TailRemoved:
        return QStringLiteral("удалены строки цепочки с %1").arg(line);
    case Kind::WitnessDiffers:
        return QStringLiteral("строка %1 расходится с архивом").arg(line);
    case Kind::UnknownToWitness:
        return QStringLiteral("цепочки нет в архиве");
    }
    return {};
}

QString FolderCheck::RussianSummary() const
{
    switch (outcome) {
    case Outcome::Untouched:
        return QStringLiteral("записи не изменялись");
    case Outcome::CannotCheck:
        return QStringLiteral("записи не подписаны");
    case Outcome::Changed:
        break;
    }
    QStringList parts;
    for (const FolderFinding &finding : findings)
        parts << finding.Russian();
    return QStringLiteral("записи изменены: ") + parts.join(QStringLiteral("; "));
}
