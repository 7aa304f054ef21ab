#include "configfile.h"

#include "nativefs.h"
#include "nativename.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

namespace {

void AppendInt32(QByteArray &bytes, qint32 value)
{
    const qint32 little = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char *>(&little), sizeof little);
}

} // namespace

QByteArray ConfigFileBytes(const ThermoSettings &settings)
{
#ifdef Q_OS_WIN
    const QByteArray folder = settings.strFolder.toLocal8Bit(); // the ANSI code page
#else
    const QByteArray folder = ToNativeName(settings.strFolder); // the folder's own bytes
#endif
    QByteArray bytes;
    AppendInt32(bytes, settings.nBaudRate);
    AppendInt32(bytes, settings.nPort);
    AppendInt32(bytes, settings.nSaveInterval);
    AppendInt32(bytes, static_cast<qint32>(folder.size()));
    bytes.append(folder);
    AppendInt32(bytes, settings.nMinT);
    AppendInt32(bytes, settings.nMaxT);
    return bytes;
}

bool WriteConfigFile(const QString &startDir, const ThermoSettings &settings)
{
    QFile file;
    if (!OpenNamedFile(file, QDir(startDir).filePath(QStringLiteral("conf.cnfg")), QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = ConfigFileBytes(settings);
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
