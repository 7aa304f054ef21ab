#pragma once

#include "alarmlimits.h"
#include "basepath.h"
#include "publishsettings.h"
#include "websettings.h"
#include "thermosettings.h"

#include <QString>

#include <memory>

class MessageSeam;
class QSettings;
class QVariant;

// Keeps ThermoSettings in the per-user store: the registry key
// HKEY_CURRENT_USER\SOFTWARE\Calorivista on Windows, the per-user settings file
// of "Calorivista" elsewhere (or a given file, for tests). A second instrument
// on the same computer (a named station) has a store of its own beside it, with
// the same keys: "Calorivista-NAME" of the organisation "Calorivista".
class SettingsStore
{
public:
    SettingsStore();
    // A given file; `station` names the instrument it belongs to (empty: the first).
    explicit SettingsStore(const QString &fileName, const QString &station = QString());
    ~SettingsStore();

    // The store of the station NAME (see IsStationName).
    static SettingsStore ForStation(const QString &name);
    SettingsStore(SettingsStore &&) = default;
    // A station's name: letters (of any script), digits, '-' and '_', at most 64 of them.
    static bool IsStationName(const QString &name);
    // The named station's name; empty for the computer's first instrument.
    QString Station() const { return m_strStation; }

    // Fills the settings from the store in their fixed order, writing back the
    // default of every value that is missing or not of its type. When the
    // store cannot be read, every value gets its default; when a default
    // cannot be written back, the stored values are still read. Either way
    // the user is warned.
    void LoadSettings(ThermoSettings &settings, MessageSeam &messages) const;

    // The defaults of a first start: 9600, COM1, 300 s, no folder, 500 to 4500.
    static ThermoSettings Defaults();

    // Writes the settings in their fixed order; silent on failure. Returns
    // whether everything was written, for callers that care.
    bool SaveSettings(const ThermoSettings &settings) const;

    // The alarms' limits: AlarmHigh, AlarmLow, AlarmRate (°C, °C/min; absent or
    // empty is off), AlarmRateWindow (s), AlarmHysteresis (°C), AlarmDelay (s),
    // AlarmSilence (s, 0 is off) and AlarmSound, stored as numbers and a
    // boolean. A value that is absent or no number of its range has its default.
    AlarmLimits LoadAlarmLimits() const;
    bool SaveAlarmLimits(const AlarmLimits &limits) const;

    // Publishing to a broker: MqttHost (empty is off), MqttPort, MqttTls,
    // MqttCaFile, MqttUser, MqttPassword, MqttStation, MqttTopic, MqttOutboxMB.
    // A value that is absent or out of its range has its default. Once a
    // password is stored, the settings file is readable by its user only.
    PublishSettings LoadPublishSettings() const;
    bool SavePublishSettings(const PublishSettings &settings) const;

    // The station's web page: WebPort (0 or absent: off), WebBind, WebToken.
    WebSettings LoadWebSettings() const;
    bool SaveWebSettings(const WebSettings &settings) const;

    // The record folder as the store remembers it: the base-path rule, except
    // that an empty path stays empty and a path the rule would reduce to
    // nothing (a lone separator) stays as it is.
    static QString RememberedFolder(const QString &folder);

    // The device that a port number stands for: "COM<n>" on Windows;
    // elsewhere PortDevice1 and PortDevice2 of the settings, and for any
    // other number the stored PortDevice<n>, or nothing when there is none.
    QString PortDevice(const ThermoSettings &settings, int nPort) const;

    // Whether a stored value counts as a 32-bit number: an integer, or, in a
    // store that keeps numbers as text (a settings file), a text that is a
    // signed 32-bit decimal integer. In a store that keeps each value's type
    // (the registry) a text is of another type.
    static bool CountsAsNumber(const QVariant &value, bool storeKeepsTypes, int *number);

private:
    std::unique_ptr<QSettings> Open() const;
    std::unique_ptr<QSettings> OpenForWriting() const;
    void KeepFileToItsUser(const QSettings &store) const;

    QString m_strFileName; // empty: the platform's per-user store
    QString m_strStation;
};
