#include "chainwitness.h"

#include "durablefile.h"
#include "nativefs.h"
#include "witnessfile.h"

#include <QDir>
#include <QFile>

bool ChainWitness::Load()
{
    m_bLoaded = true;
    QFile file(QDir(m_strFolder).filePath(QLatin1String(WitnessFile::kFileName)));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly) || file.size() > ChainLine::kMaxFileBytes * 4)
        return false;
    for (QByteArray text : file.readAll().split('\n')) {
        if (text.endsWith('\r'))
            text.chop(1);
        const std::optional<std::pair<QString, ChainLine>> entry = WitnessFile::ParseLine(text);
        if (!entry)
            continue;
        std::vector<QByteArray> &chain = m_chains[entry->first];
        if (entry->second.number == 1)
            chain.clear();
        if (entry->second.number == qint64(chain.size()) + 1)
            chain.push_back(entry->second.Text());
    }
    return true;
}

bool ChainWitness::Add(const QString &folder, const ChainLine &line, bool *failed)
{
    *failed = false;
    if (!m_bLoaded && !Load()) {
        *failed = true;
        return false;
    }
    // Only lines their own key signed; and no more folders than a lab's stations make in decades.
    if (!line.SignatureHolds() || line.number < 1 || (!m_chains.contains(folder) && m_chains.size() >= kMaxFolders))
        return false;
    const QByteArray text = line.Text();
    std::vector<QByteArray> &chain = m_chains[folder];
    const size_t index = size_t(line.number - 1);
    if (index < chain.size() && chain[index] == text)
        return false; // heard before
    const QString path = QDir(m_strFolder).filePath(QLatin1String(WitnessFile::kFileName));
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *failed = true;
        return false;
    }
    QByteArray bytes = WitnessFile::Line(folder, line);
    const qint64 whole = file.size();
    if (whole == 0)
        bytes.prepend(WitnessFile::kHeader);
    if (file.write(bytes) != bytes.size() || !file.flush() || !SyncData(file)) {
        file.resize(whole);
        *failed = true;
        return false;
    }
    if (line.number == 1)
        chain.clear();
    if (index == chain.size())
        chain.push_back(text);
    else if (index < chain.size())
        chain[index] = text; // held otherwise: the witness keeps both, the newer counts
    return true;
}
