#include "stationview.h"

#include <QDir>

using publishpayloads::AppendJsonString;
using publishpayloads::AppendTemperature;

namespace {

// A reading this far behind the newest, or ahead of it, tells of a clock
// that was set: the ten minutes start again from it.
constexpr qint64 kSteppedBackTenths = 20;

} // namespace

void StationView::TakeReadings(const FeedReadings &readings)
{
    if (readings.readings.empty())
        return;
    ++m_nChange;
    for (const TempSample &reading : readings.readings) {
        const qint64 tenth = reading.utcMs / 100;
        if (m_nNewestTenth >= 0 && (tenth < m_nNewestTenth - kSteppedBackTenths || tenth > m_nNewestTenth + kSlots)) {
            m_slots.fill(Slot {});
            m_nResetChange = m_nChange;
            m_nNewestTenth = -1;
        }
        if (m_nNewestTenth >= 0 && tenth <= m_nNewestTenth - kSlots)
            continue; // older than the ten minutes
        Slot &slot = m_slots[size_t(tenth % kSlots)];
        if (slot.tenth != tenth)
            slot = {tenth, reading.temperature, reading.temperature, m_nChange};
        slot.lowest = std::min(slot.lowest, reading.temperature);
        slot.highest = std::max(slot.highest, reading.temperature);
        slot.change = m_nChange;
        m_nNewestTenth = std::max(m_nNewestTenth, tenth);
    }
    if (!readings.readings.empty()) {
        m_last.t = readings.readings.back().utcMs;
        m_last.c = readings.readings.back().temperature;
        m_bHaveReading = true;
    }
}

void StationView::TakeLine(const LineState &line)
{
    const LineStatus status = LineStatus::Of(line, LineClockMs());
    m_last.line = status.kind == LineStatus::Kind::Live ? QStringLiteral("ok")
        : status.kind == LineStatus::Kind::Silent      ? QStringLiteral("silent")
                                                       : QStringLiteral("gone");
    m_strLineMark = status.Mark();
}

void StationView::TakeEvent(const RunEvent &event)
{
    if (event.event == QLatin1String("run-start")) {
        m_last.run = event.utcMs;
        m_marks.clear();
    } else if (event.event == QLatin1String("run-stop")) {
        m_last.run.reset();
    } else if (event.event == QLatin1String("mark")) {
        m_marks.emplace_back(event.utcMs, event.text);
    }
}

void StationView::SetRecordFolder(const QString &folder, const QString &comment)
{
    m_strFolder = QDir::toNativeSeparators(folder);
    m_strComment = comment;
}

void StationView::SetChart(double lowest, double highest, std::vector<double> limits)
{
    m_lowest = std::min(lowest, highest);
    m_highest = std::max(lowest, highest);
    m_limits = std::move(limits);
}

QByteArray StationView::StateJson() const
{
    return publishpayloads::LastPayload(m_last);
}

QByteArray StationView::PageJson(qint64 afterChange, qint64 nowMs) const
{
    QByteArray out = "{\"v\":1,\"now\":" + QByteArray::number(nowMs) + ",\"running\":";
    out += m_bRunning ? "true" : "false";
    out += ",\"reset\":";
    out += afterChange >= 0 && afterChange < m_nResetChange ? "true" : "false";
    out += ",\"last\":";
    out += m_bHaveReading ? StateJson() : QByteArray("null");
    out += ",\"lineMark\":";
    AppendJsonString(out, m_strLineMark);
    out += ",\"runState\":";
    AppendJsonString(out, m_strRunState);
    out += ",\"folder\":";
    AppendJsonString(out, m_strFolder);
    out += ",\"comment\":";
    AppendJsonString(out, m_strComment);
    out += ",\"scale\":[";
    AppendTemperature(out, m_lowest);
    out += ',';
    AppendTemperature(out, m_highest);
    out += "],\"limits\":[";
    for (size_t i = 0; i < m_limits.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendTemperature(out, m_limits[i]);
    }
    out += "],\"marks\":[";
    for (size_t i = 0; i < m_marks.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '[' + QByteArray::number(m_marks[i].first) + ',';
        AppendJsonString(out, m_marks[i].second);
        out += ']';
    }
    // The slots of the last ten minutes that changed since the viewer's last
    // frame: [tenth, lowest, highest]. Never more than the slots there are,
    // whatever the clock says.
    out += "],\"newestTenth\":" + QByteArray::number(m_nNewestTenth) + ",\"slots\":[";
    bool first = true;
    for (const Slot &slot : m_slots) {
        if (slot.tenth < 0 || slot.change <= afterChange || slot.tenth <= m_nNewestTenth - kSlots)
            continue;
        if (!first)
            out += ',';
        first = false;
        out += '[' + QByteArray::number(slot.tenth) + ',';
        AppendTemperature(out, slot.lowest);
        out += ',';
        AppendTemperature(out, slot.highest);
        out += ']';
    }
    out += "]}";
    return out;
}
