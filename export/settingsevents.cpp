#include "settingsevents.h"

namespace {

const QString kSeparator = QStringLiteral("; ");
const QString kArrow = QStringLiteral(" → ");

std::optional<double> Number(const std::optional<QString> &text)
{
    bool ok = false;
    const double value = text ? text->toDouble(&ok) : 0;
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

void SettingsInForce::Set(const QString &key, const QString &value)
{
    for (auto &[name, held] : m_pairs) {
        if (name == key) {
            held = value;
            return;
        }
    }
    m_pairs.append({key, value});
}

std::optional<QString> SettingsInForce::Value(const QString &key) const
{
    for (const auto &[name, value] : m_pairs)
        if (name == key)
            return value;
    return std::nullopt;
}

QString SettingsInForce::Text() const
{
    QStringList parts;
    for (const auto &[key, value] : m_pairs)
        parts << key + QLatin1Char('=') + value;
    return parts.join(kSeparator);
}

SettingsInForce SettingsInForce::FromText(const QString &text)
{
    SettingsInForce settings;
    for (const QString &part : text.split(kSeparator, Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        if (equals > 0)
            settings.Set(part.left(equals), part.mid(equals + 1));
    }
    return settings;
}

QString SettingsInForce::ChangesFrom(const SettingsInForce &before) const
{
    QStringList changes;
    for (const auto &[key, value] : m_pairs) {
        const std::optional<QString> old = before.Value(key);
        if (old != value)
            changes << key + QStringLiteral(": ") + old.value_or(QString()) + kArrow + value;
    }
    return changes.join(kSeparator);
}

SettingsInForce SettingsInForce::WithChanges(SettingsInForce before, const QString &changes)
{
    for (const QString &change : changes.split(kSeparator, Qt::SkipEmptyParts)) {
        const qsizetype colon = change.indexOf(QStringLiteral(": "));
        const qsizetype arrow = change.indexOf(kArrow, colon + 1);
        if (colon > 0 && arrow >= colon)
            before.Set(change.left(colon), change.mid(arrow + kArrow.size()));
    }
    return before;
}

std::vector<LimitsSpan> LimitHistory(const QList<FolderEvent> &events)
{
    std::vector<LimitsSpan> spans;
    SettingsInForce settings;
    for (const FolderEvent &event : events) {
        if (event.event == QLatin1String("settings"))
            settings = SettingsInForce::FromText(event.text);
        else if (event.event == QLatin1String("settings-changed") && !spans.empty())
            settings = SettingsInForce::WithChanges(settings, event.text);
        else
            continue;
        const LimitsSpan span {event.utcMs, Number(settings.Value(QStringLiteral("AlarmHigh"))),
                               Number(settings.Value(QStringLiteral("AlarmLow")))};
        if (spans.empty() || spans.back().high != span.high || spans.back().low != span.low)
            spans.push_back(span);
    }
    return spans;
}
