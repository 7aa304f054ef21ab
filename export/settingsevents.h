#pragma once

#include "eventsfile.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The settings a run's record was made under, as its `settings` and
// `settings-changed` events keep them: `Key=value` pairs by the settings
// store's key names, separated by "; " ("AlarmHigh=1350; AlarmLow=; …"; an
// empty value is a setting that is off), and each change as
// "Key: before → after".
class SettingsInForce
{
public:
    // Replaces the value of `key`, or adds it at the end.
    void Set(const QString &key, const QString &value);
    std::optional<QString> Value(const QString &key) const;
    bool IsEmpty() const { return m_pairs.isEmpty(); }

    // The text of a `settings` event, and the settings it names.
    QString Text() const;
    static SettingsInForce FromText(const QString &text);
    // The text of a `settings-changed` event from `before` to this (empty:
    // nothing changed); and `before` with such a text applied.
    QString ChangesFrom(const SettingsInForce &before) const;
    static SettingsInForce WithChanges(SettingsInForce before, const QString &changes);

    bool operator==(const SettingsInForce &) const = default;

private:
    QList<std::pair<QString, QString>> m_pairs;
};

// The alarm limits drawn over a run, as they stood from `fromMs` on.
struct LimitsSpan
{
    qint64 fromMs = 0;
    std::optional<double> high;
    std::optional<double> low;
    bool operator==(const LimitsSpan &) const = default;
};

// The limits of a folder's runs from its events, one span for each change,
// in time order; empty when its events hold no `settings` event (a run
// recorded before they were kept).
std::vector<LimitsSpan> LimitHistory(const QList<FolderEvent> &events);
