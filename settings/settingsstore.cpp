#include "settingsstore.h"

#include "messageseam.h"

#include <QRegularExpression>
#include <QSettings>

#include <limits>
#include <stdexcept>

namespace {

// The defaults written back for missing values.
constexpr int kDefaultBaudRate = 9600;
constexpr int kDefaultPort = 1;
constexpr int kDefaultSaveInterval = 300;
constexpr int kDefaultMinT = 500;
constexpr int kDefaultMaxT = 4500;

// Raised when the store cannot be opened (0) or a value cannot be written (1);
// the operation that opened the store catches it.
struct StoreError
{
    int code;
};

} // namespace

bool SettingsStore::CountsAsNumber(const QVariant &value, bool storeKeepsTypes, int *number)
{
    const int type = value.typeId();
    const bool integer = type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::UInt
        || type == QMetaType::ULongLong;
    const bool numberAsText = !storeKeepsTypes && (type == QMetaType::QString || type == QMetaType::QByteArray);
    if (!integer && !numberAsText)
        return false;
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,10}$"));
    const QString text = value.toString();
    if (!decimal.match(text).hasMatch())
        return false;
    const qlonglong wide = text.toLongLong();
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        return false;
    *number = static_cast<int>(wide);
    return true;
}

namespace {

bool AsText(const QVariant &value, QString *text)
{
    if (!value.isValid() || value.typeId() == QMetaType::QStringList || !value.canConvert<QString>())
        return false;
    *text = value.toString();
    return true;
}

void WriteValue(QSettings &store, const QString &name, const QVariant &value)
{
    store.setValue(name, value);
    store.sync();
    if (store.status() != QSettings::NoError)
        throw StoreError {1};
}

// The registry keeps each value's type, so a number stored there as text is
// of the wrong type; a settings file keeps every number as text.
bool KeepsTypes(const QSettings &store)
{
#ifdef Q_OS_WIN
    return store.format() == QSettings::NativeFormat;
#else
    Q_UNUSED(store);
    return false;
#endif
}

void ReadNumberValue(QSettings &store, const QString &name, int &out, int fallback)
{
    if (SettingsStore::CountsAsNumber(store.value(name), KeepsTypes(store), &out))
        return;
    out = fallback;
    WriteValue(store, name, fallback);
}

void ReadTextValue(QSettings &store, const QString &name, QString &out, const QString &fallback)
{
    if (AsText(store.value(name), &out))
        return;
    out = fallback;
    WriteValue(store, name, fallback);
}

} // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(const QString &fileName)
    : m_strFileName(fileName)
{
}

SettingsStore::~SettingsStore() = default;

std::unique_ptr<QSettings> SettingsStore::Open() const
{
    std::unique_ptr<QSettings> store;
    if (!m_strFileName.isEmpty())
        store = std::make_unique<QSettings>(m_strFileName, QSettings::IniFormat);
#ifdef Q_OS_WIN
    else
        store = std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Calorivista"),
                                            QSettings::NativeFormat);
#else
    else
        store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Calorivista"),
                                            QStringLiteral("Calorivista"));
#endif
    if (store->status() != QSettings::NoError || !store->isWritable())
        throw StoreError {0};
    return store;
}

QString SettingsStore::PortDevice(const ThermoSettings &settings, int nPort) const
{
#ifdef Q_OS_WIN
    Q_UNUSED(settings);
    return QStringLiteral("COM%1").arg(nPort);
#else
    if (nPort == 1)
        return settings.strPortDevice1;
    if (nPort == 2)
        return settings.strPortDevice2;
    // Another port number is only ever the device stored for it: never COM1's.
    try {
        return Open()->value(QStringLiteral("PortDevice%1").arg(nPort)).toString();
    } catch (const StoreError &) {
        return QString();
    }
#endif
}

QString SettingsStore::RememberedFolder(const QString &folder)
{
    if (folder.isEmpty())
        return folder;
    try {
        return BasePath(folder);
    } catch (const std::invalid_argument &) {
        return folder; // "/" is a folder too; the rule has nothing to remove from it
    }
}

void SettingsStore::LoadSettings(ThermoSettings &settings, MessageSeam &messages) const
{
    try {
        const std::unique_ptr<QSettings> store = Open();
        ReadNumberValue(*store, QStringLiteral("BaudRate"), settings.nBaudRate, kDefaultBaudRate);
        ReadNumberValue(*store, QStringLiteral("PortNumber"), settings.nPort, kDefaultPort);
        ReadNumberValue(*store, QStringLiteral("TimeBetweenSaving"), settings.nSaveInterval, kDefaultSaveInterval);
        QString folder;
        ReadTextValue(*store, QStringLiteral("SavingPath"), folder, QString());
        settings.strFolder = RememberedFolder(folder);
        ReadNumberValue(*store, QStringLiteral("MinT"), settings.nMinT, kDefaultMinT);
        ReadNumberValue(*store, QStringLiteral("MaxT"), settings.nMaxT, kDefaultMaxT);
#ifndef Q_OS_WIN
        ReadTextValue(*store, QStringLiteral("PortDevice1"), settings.strPortDevice1, QStringLiteral("/dev/ttyS0"));
        ReadTextValue(*store, QStringLiteral("PortDevice2"), settings.strPortDevice2, QStringLiteral("/dev/ttyS1"));
#endif
    } catch (const StoreError &) {
        messages.Show(WarningMessage(
            QStringLiteral("Не удалось прочесть настройки из реестра \n \t\t\t\t\t\tвыставлены настройки по умолчанию"),
            QStringLiteral("Предупреждение")));
    }
}

bool SettingsStore::SaveSettings(const ThermoSettings &settings) const
{
    try {
        const std::unique_ptr<QSettings> store = Open();
        store->setValue(QStringLiteral("BaudRate"), settings.nBaudRate);
        store->setValue(QStringLiteral("PortNumber"), settings.nPort);
        store->setValue(QStringLiteral("TimeBetweenSaving"), settings.nSaveInterval);
        // Stored whole: a long path is never cut short.
        store->setValue(QStringLiteral("SavingPath"), RememberedFolder(settings.strFolder));
        store->setValue(QStringLiteral("MinT"), settings.nMinT);
        store->setValue(QStringLiteral("MaxT"), settings.nMaxT);
#ifndef Q_OS_WIN
        store->setValue(QStringLiteral("PortDevice1"), settings.strPortDevice1);
        store->setValue(QStringLiteral("PortDevice2"), settings.strPortDevice2);
#endif
        store->sync();
        return store->status() == QSettings::NoError;
    } catch (const StoreError &) {
        return false;
    }
}
