#include "runchain.h"

#include <QDir>

RunChain::RunChain(const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , m_strDataFolder(dataFolder)
{
}

const StationKey *RunChain::Key()
{
    if (!m_key)
        m_key = StationKey::LoadOrMake(m_strDataFolder, nullptr);
    return m_key ? &*m_key : nullptr;
}

QString RunChain::Fingerprint()
{
    const StationKey *key = Key();
    return key ? key->Fingerprint() : QString();
}

QByteArray RunChain::PublicKeyHex()
{
    const StationKey *key = Key();
    return key ? key->PublicKey().toHex() : QByteArray();
}

void RunChain::Begin(const QString &folder)
{
    m_bFailureTold = false;
    m_chain.Open(folder);
    if (!Key() && !m_bFailureTold) {
        m_bFailureTold = true;
        emit Failing(QStringLiteral("Не удаётся создать ключ станции в папке %1. Запись идёт, но файлы записи не "
                                    "подписываются.")
                         .arg(QDir::toNativeSeparators(m_strDataFolder)));
    }
}

void RunChain::Saved(const QString &file)
{
    if (!file.isEmpty())
        Enter(file, false);
    EnterChanged();
}

void RunChain::End()
{
    EnterChanged();
    m_chain.Close();
}

void RunChain::EnterChanged()
{
    Enter(QStringLiteral("events.csv"), true);
    Enter(QStringLiteral("dirinfo"), true);
}

void RunChain::Enter(const QString &name, bool onlyIfChanged)
{
    const StationKey *key = Key();
    if (!key || !m_chain.IsOpen())
        return;
    bool failed = false;
    const std::optional<ChainLine> line = m_chain.Enter(name, *key, onlyIfChanged, &failed);
    if (line) {
        m_lastChain = QString::fromLatin1(line->chain);
        emit Entered(m_chain.Folder(), *line);
    } else if (failed && !m_bFailureTold) {
        m_bFailureTold = true;
        emit Failing(QStringLiteral("Не удаётся дописать цепочку записи %1. Запись идёт, но изменения файлов записи "
                                    "нельзя будет обнаружить.")
                         .arg(QDir::toNativeSeparators(QDir(m_chain.Folder()).filePath(QLatin1String(RecordChain::kFileName)))));
    }
}
