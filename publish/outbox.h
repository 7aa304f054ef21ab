#pragma once

#include "publishpayloads.h"
#include "tempsample.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <compare>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QLockFile;

// A place in the outbox: a segment's number and a byte offset in it.
struct OutboxPosition
{
    qint64 segment = 0;
    qint64 offset = 0;
    auto operator<=>(const OutboxPosition &) const = default;
};

// One reading as it is published: its instant and its temperature.
using OutboxReading = publishpayloads::Reading;

// What the outbox holds: a piece of a run's readings as one tick of the feed
// brought them, or an event already in its published form.
struct OutboxItem
{
    enum class Kind { Readings, Event, Chain };
    Kind kind = Kind::Readings;
    qint64 run = 0;       // the run's id (its start, ms since 1970)
    qint64 seq = 0;       // the index in the run of the first reading
    qint64 arrivedMs = 0; // when the feed handed the readings on, by a steady clock (not the wall clock)
    std::vector<OutboxReading> readings;
    QByteArray event;     // the event's or the chain line's payload
    // Where it was recorded to go: the station's name and the topics' prefix
    // then (empty in an outbox of an older version: where publishing goes now).
    QString station;
    QString topic;
    OutboxPosition end;   // just after the item
};

// Where an item is published: the station's name and the topics' prefix.
struct OutboxAddress
{
    QString station;
    QString topic;
};

// What waits to be published, on disk: whatever is appended survives the
// program's crash at once (it is written, not buffered), and a power cut once
// Sync has made it durable. Items leave only when acknowledged. Segments of
// records (length, type, payload, CRC-32, as the journal's) are numbered in
// order; a segment whose items are all acknowledged is deleted, and a small
// "head" file says how far the oldest one is acknowledged. When the segments
// outgrow the limit the oldest go, acknowledged or not, and the readings
// that went unpublished are counted. A record damaged on disk costs only
// itself: reading goes on at the next whole record, and the readings it held
// count as dropped. A lock file keeps a second program out.
class Outbox
{
public:
    Outbox();
    ~Outbox();

    enum class OpenResult { Opened, HeldByOther, NotWritable };
    // Opens (or makes) the outbox in `folder`; a record torn by a crash is cut off.
    OpenResult Open(const QString &folder, qint64 limitBytes);
    void Close();
    bool IsOpen() const { return m_lock != nullptr; }
    QString Folder() const { return m_strFolder; }
    void SetLimit(qint64 limitBytes);
    // Acknowledged items are kept this long (for readings asked for again),
    // within the limit; 0: they go once acknowledged.
    void SetKeep(qint64 keepMs);
    // Segments acknowledged and older than the keep go.
    void Expire();

    // The segments there are, oldest first, and every whole item of one
    // (damaged records passed over), acknowledged or not.
    const std::vector<qint64> &Segments() const { return m_segments; }
    bool ForEachItem(qint64 segment, const std::function<void(const OutboxItem &)> &take) const;

    // False when the write failed (a full disk): nothing of it is kept.
    // Each item keeps the address it is to be published at.
    bool AppendReadings(const OutboxAddress &address, qint64 run, qint64 seq, qint64 arrivedMs,
                        std::span<const TempSample> readings);
    bool AppendEvent(const OutboxAddress &address, const QByteArray &payload);
    // A line of a record folder's chain, in its published form.
    bool AppendChainLine(const OutboxAddress &address, const QByteArray &payload);
    // Makes what was appended durable.
    bool Sync();

    // The items not yet acknowledged, read from the cursor on.
    void Rewind();
    std::optional<OutboxItem> Next();
    // Everything before `end` is acknowledged; it held `readings` readings.
    void Acknowledge(const OutboxPosition &end, qint64 readings);

    qint64 PendingReadings() const { return m_nPendingReadings; }
    // Everything appended is acknowledged.
    bool IsEmpty() const
    {
        return m_segments.empty() || OutboxPosition {m_segments.back(), m_writer.size()} <= m_head;
    }
    qint64 Bytes() const { return m_nBytes; }
    // Readings that were dropped unpublished for room since the last call.
    qint64 TakeDropped() { return std::exchange(m_nDropped, 0); }
    // Readings that damaged records held, found since the last call.
    qint64 TakeDamaged() { return std::exchange(m_nDamaged, 0); }

    static constexpr int kMaxReadingsPerItem = 4096;

private:
    QString SegmentPath(qint64 segment) const;
    bool Append(char type, const QByteArray &payload);
    bool AppendAddressed(char type, const OutboxAddress &address, const QByteArray &payload);
    bool StartSegment(qint64 segment);
    void Enforce();
    void DropOldest();
    qint64 CountReadings(qint64 segment, qint64 from) const;
    void SaveHead();
    bool RepairNewest();
    std::optional<OutboxItem> Decode(char type, const QByteArray &payload) const;
    void CountLost(const OutboxItem &item);

    QString m_strFolder;
    std::unique_ptr<QLockFile> m_lock;
    qint64 m_nLimit = 0;
    qint64 m_nKeepMs = 0;
    qint64 m_nSegmentBytes = 0;
    std::vector<qint64> m_segments; // numbers, oldest first
    qint64 m_nBytes = 0;            // of every segment
    QFile m_writer;                 // the newest segment
    bool m_bUnsynced = false;
    OutboxPosition m_head;          // everything before it is acknowledged
    OutboxPosition m_cursor;        // where Next reads
    QFile m_reader;
    qint64 m_nReaderSegment = -1;
    qint64 m_nPendingReadings = 0;
    qint64 m_nDropped = 0;
    qint64 m_nDamaged = 0;
    bool m_bSkippedDamage = false;        // Next passed over damaged bytes
    std::optional<std::pair<qint64, qint64>> m_expected; // run and seq the next readings item should have
};
