#include "stationview.h"

#include <QDir>

using publishpayloads::AppendJsonString;
using publishpayloads::AppendTemperature;

void StationView::TakeReadings(const FeedReadings &readings)
{
    for (const TempSample &reading : readings.readings) {
        const qint64 tenth = reading.utcMs / 100;
        Slot &slot = m_slots[size_t(tenth % kSlots)];
        if (slot.tenth != tenth)
            slot = {tenth, reading.temperature, reading.temperature};
        slot.lowest = std::min(slot.lowest, reading.temperature);
        slot.highest = std::max(slot.highest, reading.temperature);
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

QByteArray StationView::PageJson(qint64 afterTenth, qint64 nowMs) const
{
    QByteArray out = "{\"v\":1,\"now\":" + QByteArray::number(nowMs) + ",\"last\":";
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
    // The slots of the last ten minutes newer than the page has: [tenth, lowest, highest].
    out += "],\"newestTenth\":" + QByteArray::number(m_nNewestTenth) + ",\"slots\":[";
    bool first = true;
    const qint64 oldest = std::max(afterTenth + 1, nowMs / 100 - kSlots + 1);
    for (qint64 tenth = oldest; tenth <= m_nNewestTenth; ++tenth) {
        const Slot &slot = m_slots[size_t(tenth % kSlots)];
        if (slot.tenth != tenth)
            continue;
        if (!first)
            out += ',';
        first = false;
        out += '[' + QByteArray::number(tenth) + ',';
        AppendTemperature(out, slot.lowest);
        out += ',';
        AppendTemperature(out, slot.highest);
        out += ']';
    }
    out += "]}";
    return out;
}
