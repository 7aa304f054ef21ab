#include "settingsstore.h"

#include "messageseam.h"
#include "nativename.h"

#include <QRegularExpression>
#include <QFile>
#include <QSettings>
#include <QSysInfo>

#include <cmath>
#include <optional>

#include <limits>
#include <stdexcept>

namespace {

// Raised when the store cannot be opened for writing; SaveSettings catches it.
struct StoreError
{
};

} // namespace

ThermoSettings SettingsStore::Defaults()
{
    ThermoSettings defaults;
    defaults.nBaudRate = 9600;
    defaults.nPort = 1;
    defaults.nSaveInterval = 300;
    defaults.strFolder.clear();
    defaults.nMinT = 500;
    defaults.nMaxT = 4500;
    defaults.strPortDevice1 = QStringLiteral("/dev/ttyS0");
    defaults.strPortDevice2 = QStringLiteral("/dev/ttyS1");
    return defaults;
}

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
    if (value.typeId() == QMetaType::QByteArray) {
        *text = FromNativeName(value.toByteArray()); // a folder name stored as its bytes
        return true;
    }
    if (!value.isValid() || value.typeId() == QMetaType::QStringList || !value.canConvert<QString>())
        return false;
    *text = value.toString();
    return true;
}

// A name is stored as text; one that holds bytes which are no UTF-8 (see
// nativename.h) as those bytes, which text would lose.
QVariant StoredName(const QString &name)
{
    if (QtCanName(name))
        return name;
    return ToNativeName(name);
}

// Writes a default back in place of a missing value; false when the store
// cannot take it (a read-only file, a full disk).
bool WriteValue(QSettings &store, const QString &name, const QVariant &value)
{
    store.setValue(name, value);
    store.sync();
    return store.status() == QSettings::NoError;
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

// Each reader gives the stored value, or the default, which it writes back;
// false when that write failed.
bool ReadNumberValue(QSettings &store, const QString &name, int &out, int fallback)
{
    if (SettingsStore::CountsAsNumber(store.value(name), KeepsTypes(store), &out))
        return true;
    out = fallback;
    return WriteValue(store, name, fallback);
}

bool ReadTextValue(QSettings &store, const QString &name, QString &out, const QString &fallback)
{
    if (AsText(store.value(name), &out))
        return true;
    out = fallback;
    return WriteValue(store, name, fallback);
}

} // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(const QString &fileName, const QString &station)
    : m_strFileName(fileName)
    , m_strStation(station)
{
}

SettingsStore SettingsStore::ForStation(const QString &name)
{
    SettingsStore store;
    store.m_strStation = name;
    return store;
}

bool SettingsStore::IsStationName(const QString &name)
{
    // Letters of any script: a lab names its furnaces in its own language.
    static const QRegularExpression allowed(QStringLiteral("^[\\p{L}\\p{Nd}_-]{1,64}$"));
    return allowed.match(name).hasMatch();
}

SettingsStore::~SettingsStore() = default;

std::unique_ptr<QSettings> SettingsStore::Open() const
{
    if (!m_strFileName.isEmpty())
        return std::make_unique<QSettings>(m_strFileName, QSettings::IniFormat);
    if (!m_strStation.isEmpty()) {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Calorivista"),
                                           QStringLiteral("Calorivista-") + m_strStation);
    }
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Calorivista"),
                                       QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Calorivista"),
                                       QStringLiteral("Calorivista"));
#endif
}

std::unique_ptr<QSettings> SettingsStore::OpenForWriting() const
{
    std::unique_ptr<QSettings> store = Open();
    if (store->status() != QSettings::NoError || !store->isWritable())
        throw StoreError {};
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
        return Open()->value(QStringLiteral("PortDevice%1").arg(nPort)).toString();
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
    const ThermoSettings defaults = Defaults();
    const std::unique_ptr<QSettings> store = Open();
    bool complete = store->status() != QSettings::AccessError;
    if (!complete) {
        // Nothing can be read: the defaults, as the warning says.
        settings = defaults;
    } else {
        // A store that cannot take the defaults written back still gives every
        // value it holds.
        complete &= ReadNumberValue(*store, QStringLiteral("BaudRate"), settings.nBaudRate, defaults.nBaudRate);
        complete &= ReadNumberValue(*store, QStringLiteral("PortNumber"), settings.nPort, defaults.nPort);
        complete &= ReadNumberValue(*store, QStringLiteral("TimeBetweenSaving"), settings.nSaveInterval,
                                    defaults.nSaveInterval);
        QString folder;
        complete &= ReadTextValue(*store, QStringLiteral("SavingPath"), folder, defaults.strFolder);
        settings.strFolder = RememberedFolder(folder);
        complete &= ReadNumberValue(*store, QStringLiteral("MinT"), settings.nMinT, defaults.nMinT);
        complete &= ReadNumberValue(*store, QStringLiteral("MaxT"), settings.nMaxT, defaults.nMaxT);
#ifndef Q_OS_WIN
        complete &= ReadTextValue(*store, QStringLiteral("PortDevice1"), settings.strPortDevice1,
                                  defaults.strPortDevice1);
        complete &= ReadTextValue(*store, QStringLiteral("PortDevice2"), settings.strPortDevice2,
                                  defaults.strPortDevice2);
#endif
    }
    if (!complete) {
        messages.Show(WarningMessage(
            QStringLiteral("Не удалось прочесть настройки из реестра \n \t\t\t\t\t\tвыставлены настройки по умолчанию"),
            QStringLiteral("Предупреждение")));
    }
}

bool SettingsStore::SaveSettings(const ThermoSettings &settings) const
{
    try {
        const std::unique_ptr<QSettings> store = OpenForWriting();
        store->setValue(QStringLiteral("BaudRate"), settings.nBaudRate);
        store->setValue(QStringLiteral("PortNumber"), settings.nPort);
        store->setValue(QStringLiteral("TimeBetweenSaving"), settings.nSaveInterval);
        // Stored whole: a long path is never cut short.
        store->setValue(QStringLiteral("SavingPath"), StoredName(RememberedFolder(settings.strFolder)));
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

namespace {

// A number of the stored value within [lowest, highest], or none.
std::optional<double> StoredNumber(const QSettings &store, const QString &name, double lowest, double highest)
{
    const QVariant value = store.value(name);
    bool ok = false;
    const double number = value.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < lowest || number > highest)
        return std::nullopt;
    return number;
}

// Temperatures any instrument frame can say, and somewhat beyond.
constexpr double kLowestLimit = -300;
constexpr double kHighestLimit = 10000;

} // namespace

AlarmLimits SettingsStore::LoadAlarmLimits() const
{
    const std::unique_ptr<QSettings> store = Open();
    AlarmLimits limits;
    limits.high = StoredNumber(*store, QStringLiteral("AlarmHigh"), kLowestLimit, kHighestLimit);
    limits.low = StoredNumber(*store, QStringLiteral("AlarmLow"), kLowestLimit, kHighestLimit);
    limits.rate = StoredNumber(*store, QStringLiteral("AlarmRate"), 0.001, kHighestLimit);
    limits.rateWindowSeconds = static_cast<int>(
        StoredNumber(*store, QStringLiteral("AlarmRateWindow"), 10, 3600).value_or(limits.rateWindowSeconds));
    limits.hysteresis = StoredNumber(*store, QStringLiteral("AlarmHysteresis"), 0, 1000).value_or(limits.hysteresis);
    limits.delaySeconds = StoredNumber(*store, QStringLiteral("AlarmDelay"), 0, 3600).value_or(limits.delaySeconds);
    limits.silenceSeconds = static_cast<int>(
        StoredNumber(*store, QStringLiteral("AlarmSilence"), 0, 86400).value_or(limits.silenceSeconds));
    const QVariant sound = store->value(QStringLiteral("AlarmSound"));
    if (sound.isValid())
        limits.sound = sound.toString() != QStringLiteral("false") && sound.toString() != QStringLiteral("0");
    return limits;
}

bool SettingsStore::SaveAlarmLimits(const AlarmLimits &limits) const
{
    const std::unique_ptr<QSettings> store = OpenForWriting();
    if (!store)
        return false;
    const auto limit = [&store](const QString &name, const std::optional<double> &value) {
        if (value)
            store->setValue(name, *value);
        else
            store->remove(name); // off
    };
    limit(QStringLiteral("AlarmHigh"), limits.high);
    limit(QStringLiteral("AlarmLow"), limits.low);
    limit(QStringLiteral("AlarmRate"), limits.rate);
    store->setValue(QStringLiteral("AlarmRateWindow"), limits.rateWindowSeconds);
    store->setValue(QStringLiteral("AlarmHysteresis"), limits.hysteresis);
    store->setValue(QStringLiteral("AlarmDelay"), limits.delaySeconds);
    store->setValue(QStringLiteral("AlarmSilence"), limits.silenceSeconds);
    store->setValue(QStringLiteral("AlarmSound"), limits.sound);
    store->sync();
    return store->status() == QSettings::NoError;
}

PublishSettings SettingsStore::LoadPublishSettings() const
{
    const std::unique_ptr<QSettings> store = Open();
    PublishSettings settings;
    settings.host = store->value(QStringLiteral("MqttHost")).toString().trimmed();
    settings.port = static_cast<int>(StoredNumber(*store, QStringLiteral("MqttPort"), 1, 65535).value_or(settings.port));
    const QString tls = store->value(QStringLiteral("MqttTls")).toString();
    settings.tls = tls == QStringLiteral("true") || tls == QStringLiteral("1");
    settings.caFile = store->value(QStringLiteral("MqttCaFile")).toString();
    settings.user = store->value(QStringLiteral("MqttUser")).toString();
    settings.password = store->value(QStringLiteral("MqttPassword")).toString();
    settings.station = store->value(QStringLiteral("MqttStation")).toString().trimmed();
    const QString topic = store->value(QStringLiteral("MqttTopic")).toString().trimmed();
    if (!topic.isEmpty())
        settings.topic = topic;
    settings.outboxMB = static_cast<int>(
        StoredNumber(*store, QStringLiteral("MqttOutboxMB"), 1, 1024 * 1024).value_or(settings.outboxMB));
    settings.keepHours = static_cast<int>(
        StoredNumber(*store, QStringLiteral("MqttKeepHours"), 0, 24 * 365).value_or(settings.keepHours));
    if (!settings.password.isEmpty())
        KeepFileToItsUser(*store);
    return settings;
}

bool SettingsStore::SavePublishSettings(const PublishSettings &settings) const
{
    try {
        const std::unique_ptr<QSettings> store = OpenForWriting();
        if (!settings.password.isEmpty()) {
            // The file is closed to others before the password is in it; a
            // rewrite keeps the permissions of the file it replaces.
            store->sync();
            KeepFileToItsUser(*store);
        }
        store->setValue(QStringLiteral("MqttHost"), settings.host.trimmed());
        store->setValue(QStringLiteral("MqttPort"), settings.port);
        store->setValue(QStringLiteral("MqttTls"), settings.tls);
        store->setValue(QStringLiteral("MqttCaFile"), settings.caFile);
        store->setValue(QStringLiteral("MqttUser"), settings.user);
        store->setValue(QStringLiteral("MqttPassword"), settings.password);
        store->setValue(QStringLiteral("MqttStation"), settings.station.trimmed());
        store->setValue(QStringLiteral("MqttTopic"), settings.topic.trimmed());
        store->setValue(QStringLiteral("MqttOutboxMB"), settings.outboxMB);
        store->setValue(QStringLiteral("MqttKeepHours"), settings.keepHours);
        store->sync();
        if (!settings.password.isEmpty())
            KeepFileToItsUser(*store);
        return store->status() == QSettings::NoError;
    } catch (const StoreError &) {
        return false;
    }
}

void SettingsStore::KeepFileToItsUser(const QSettings &store) const
{
    if (store.format() == QSettings::NativeFormat && QSysInfo::productType() == QStringLiteral("windows"))
        return; // the registry's per-user key is the user's already
    QFile::setPermissions(store.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

WebSettings SettingsStore::LoadWebSettings() const
{
    const std::unique_ptr<QSettings> store = Open();
    WebSettings settings;
    settings.port = static_cast<int>(StoredNumber(*store, QStringLiteral("WebPort"), 0, 65535).value_or(0));
    settings.bind = store->value(QStringLiteral("WebBind")).toString().trimmed();
    settings.token = store->value(QStringLiteral("WebToken")).toString().trimmed();
    return settings;
}

bool SettingsStore::SaveWebSettings(const WebSettings &settings) const
{
    try {
        const std::unique_ptr<QSettings> store = OpenForWriting();
        store->setValue(QStringLiteral("WebPort"), settings.port);
        store->setValue(QStringLiteral("WebBind"), settings.bind.trimmed());
        if (!settings.token.isEmpty()) {
            // Whoever reads the token sees the run: the file is closed to others first.
            store->sync();
            KeepFileToItsUser(*store);
        }
        store->setValue(QStringLiteral("WebToken"), settings.token);
        store->sync();
        return store->status() == QSettings::NoError;
    } catch (const StoreError &) {
        return false;
    }
}
