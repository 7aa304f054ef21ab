#include "witnessfile.h"

#include "csvwriter.h"
#include "nativefs.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace {

// The folder field and the rest of the line.
std::optional<std::pair<QByteArray, QByteArray>> Split(const QByteArray &text)
{
    if (!text.startsWith('"')) {
        const qsizetype comma = text.indexOf(',');
        if (comma < 0)
            return std::nullopt;
        return std::pair {text.left(comma), text.mid(comma + 1)};
    }
    QByteArray folder;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            folder += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            folder += '"';
            ++i;
        } else {
            if (i + 1 >= text.size() || text[i + 1] != ',')
                return std::nullopt;
            return std::pair {folder, text.mid(i + 2)};
        }
    }
    return std::nullopt;
}

} // namespace

QByteArray WitnessFile::Line(const QString &folder, const ChainLine &line)
{
    return CsvField(folder) + ',' + line.Text() + "\r\n";
}

std::optional<std::pair<QString, ChainLine>> WitnessFile::ParseLine(const QByteArray &text)
{
    const auto parts = Split(text);
    if (!parts)
        return std::nullopt;
    const std::optional<ChainLine> line = ChainLine::Parse(parts->second);
    if (!line)
        return std::nullopt;
    return std::pair {QString::fromUtf8(parts->first), *line};
}

std::optional<std::vector<ChainLine>> WitnessFile::FindIn(const QByteArray &bytes, const ChainLine &first)
{
    const QByteArray wanted = first.Text();
    QHash<QByteArray, std::vector<ChainLine>> current; // by folder: the chain it is writing
    std::optional<QByteArray> folderOfWanted;
    std::vector<ChainLine> found;
    for (QByteArray text : bytes.split('\n')) {
        if (text.endsWith('\r'))
            text.chop(1);
        const auto parts = Split(text);
        if (!parts)
            continue;
        const std::optional<ChainLine> line = ChainLine::Parse(parts->second);
        if (!line)
            continue;
        if (line->number == 1) {
            if (folderOfWanted && *folderOfWanted == parts->first)
                folderOfWanted.reset(); // that folder was begun afresh: its chain ended
            if (parts->second == wanted) {
                folderOfWanted = parts->first;
                found.clear();
            }
        }
        if (folderOfWanted && *folderOfWanted == parts->first)
            found.push_back(*line);
    }
    if (found.empty())
        return std::nullopt;
    return found;
}

std::optional<std::vector<ChainLine>> WitnessFile::Find(const QString &dir, const ChainLine &first)
{
    for (const QString &station : ListedSubfolders(dir)) {
        if (station == QLatin1String(".."))
            continue;
        QFile file;
        if (!OpenNamedFile(file, QDir(QDir(dir).filePath(station)).filePath(QLatin1String(kFileName)), QIODevice::ReadOnly))
            continue;
        if (std::optional<std::vector<ChainLine>> lines = FindIn(file.readAll(), first))
            return lines;
    }
    return std::nullopt;
}
