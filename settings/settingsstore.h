#pragma once

#include "thermosettings.h"

#include <QString>

#include <memory>

class MessageSeam;
class QSettings;

// Keeps ThermoSettings in the per-user store: the registry key
// HKEY_CURRENT_USER\SOFTWARE\Calorivista on Windows, the per-user settings file
// of "Calorivista" elsewhere (or a given file, for tests).
class SettingsStore
{
public:
    SettingsStore();
    explicit SettingsStore(const QString &fileName);
    ~SettingsStore();

    // Fills the settings from the store in their fixed order, writing back the
    // default of every value that is missing or not of its type. When the
    // store cannot be opened or a default cannot be written back, warns the
    // user; the values read until then are kept, the others stay as they were.
    void LoadSettings(ThermoSettings &settings, MessageSeam &messages) const;

    // Writes the settings in their fixed order; silent on failure. Returns
    // whether everything was written, for callers that care.
    bool SaveSettings(const ThermoSettings &settings) const;

    // The record folder as the store remembers it: the base-path rule, except
    // that an empty path stays empty and a path the rule would reduce to
    // nothing (a lone separator) stays as it is.
    static QString RememberedFolder(const QString &folder);

private:
    std::unique_ptr<QSettings> Open() const;

    QString m_strFileName; // empty: the platform's per-user store
};
