#include "outbox.h"

#include "crc32.h"
#include "durablefile.h"

#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

const QByteArray kFileStart = QByteArrayLiteral("CVOBOX\x01\x00");
constexpr qint64 kStart = 8;
// Readings and events of an older outbox, published where publishing goes now.
constexpr char kReadingsType = 'R';
constexpr char kEventType = 'E';
// Readings and events with the station and topic they were recorded for.
constexpr char kAddressedReadingsType = 'S';
constexpr char kAddressedEventType = 'V';
// A record chain's line, with its station and topic.
constexpr char kAddressedChainType = 'K';
constexpr int kLongestName = 1024;
constexpr int kRecordHead = 5; // length and type
constexpr int kReadingsHead = 8 + 8 + 8 + 4;
constexpr int kReadingBytes = 16;
// A record longer than this is no record: the bytes are damaged.
constexpr quint32 kLongestPayload = kReadingsHead + 2 * (2 + kLongestName) + Outbox::kMaxReadingsPerItem * kReadingBytes
    + 1024 * 1024;

bool KnownType(char type)
{
    return type == kReadingsType || type == kEventType || type == kAddressedReadingsType || type == kAddressedEventType
        || type == kAddressedChainType;
}

template<typename T>
void Put(char *&out, T value)
{
    value = qToLittleEndian(value);
    std::memcpy(out, &value, sizeof value);
    out += sizeof value;
}

template<typename T>
T Get(const char *&in)
{
    T value;
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
    return qFromLittleEndian(value);
}

QString SegmentName(qint64 segment)
{
    return QStringLiteral("%1.seg").arg(segment, 10, 10, QLatin1Char('0'));
}

// A whole record at the file's position: its type and payload, or nothing
// where the bytes end or are damaged.
struct RawRecord
{
    char type = 0;
    QByteArray payload;
};

std::optional<RawRecord> ReadRecord(QFile &file)
{
    char head[kRecordHead];
    if (file.read(head, kRecordHead) != kRecordHead)
        return std::nullopt;
    const char *in = head;
    const quint32 length = Get<quint32>(in);
    if (length > kLongestPayload)
        return std::nullopt;
    RawRecord record;
    record.type = head[4];
    if (!KnownType(record.type))
        return std::nullopt;
    QByteArray rest = file.read(qint64(length) + 4);
    if (rest.size() != qsizetype(length) + 4)
        return std::nullopt;
    const char *check = rest.constData() + length;
    const quint32 stored = Get<quint32>(check);
    QByteArray whole(head, kRecordHead);
    whole.append(rest.constData(), length);
    if (Crc32(whole) != stored)
        return std::nullopt;
    rest.truncate(length);
    record.payload = std::move(rest);
    return record;
}

// The next place after `from` where a whole record starts, or -1: reading
// goes on there after damaged bytes.
qint64 NextWholeRecord(QFile &file, qint64 from)
{
    const qint64 size = file.size();
    if (!file.seek(from + 1))
        return -1;
    const QByteArray rest = file.read(size - from - 1);
    for (qsizetype at = 0; at + kRecordHead + 4 <= rest.size(); ++at) {
        const char *in = rest.constData() + at;
        const quint32 length = Get<quint32>(in);
        if (length > kLongestPayload || !KnownType(rest[at + 4]) || at + kRecordHead + qsizetype(length) + 4 > rest.size())
            continue;
        const char *check = rest.constData() + at + kRecordHead + length;
        if (Crc32(QByteArrayView(rest.constData() + at, kRecordHead + length)) == Get<quint32>(check))
            return from + 1 + at;
    }
    return -1;
}

void PutName(char *&out, const QByteArray &name)
{
    Put<quint16>(out, quint16(name.size()));
    std::memcpy(out, name.constData(), size_t(name.size()));
    out += name.size();
}

bool GetName(const char *&in, const char *end, QString *name)
{
    if (end - in < 2)
        return false;
    const quint16 length = Get<quint16>(in);
    if (length > kLongestName || end - in < length)
        return false;
    *name = QString::fromUtf8(in, length);
    in += length;
    return true;
}

QByteArray Name(const QString &name)
{
    return name.toUtf8().left(kLongestName);
}

} // namespace

Outbox::Outbox() = default;

Outbox::~Outbox()
{
    Close();
}

QString Outbox::SegmentPath(qint64 segment) const
{
    return m_strFolder + QLatin1Char('/') + SegmentName(segment);
}

void Outbox::SetLimit(qint64 limitBytes)
{
    m_nLimit = std::max<qint64>(limitBytes, 64 * 1024);
    // Small enough that dropping the oldest for room loses little; large
    // enough that a long backlog stays a few files.
    m_nSegmentBytes = std::clamp<qint64>(m_nLimit / 16, 16 * 1024, 16 * 1024 * 1024);
    if (IsOpen())
        Enforce();
}

Outbox::OpenResult Outbox::Open(const QString &folder, qint64 limitBytes)
{
    Close();
    if (!QDir().mkpath(folder))
        return OpenResult::NotWritable;
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/.lock"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return lock->error() == QLockFile::LockFailedError ? OpenResult::HeldByOther : OpenResult::NotWritable;
    m_strFolder = folder;
    m_lock = std::move(lock);
    SetLimit(limitBytes);

    const QStringList names = QDir(folder).entryList({QStringLiteral("*.seg")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        bool number = false;
        const qint64 segment = name.chopped(4).toLongLong(&number);
        if (number && segment > 0)
            m_segments.push_back(segment);
    }
    std::sort(m_segments.begin(), m_segments.end());
    if (!RepairNewest()) {
        Close();
        return OpenResult::NotWritable;
    }
    if (m_segments.empty() && !StartSegment(1)) {
        Close();
        return OpenResult::NotWritable;
    }
    m_nBytes = 0;
    for (qint64 segment : m_segments)
        m_nBytes += QFileInfo(SegmentPath(segment)).size();

    m_head = {m_segments.front(), kStart};
    QFile head(folder + QStringLiteral("/head"));
    if (head.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = head.read(20);
        if (bytes.size() == 20) {
            const char *in = bytes.constData();
            const qint64 segment = Get<qint64>(in);
            const qint64 offset = Get<qint64>(in);
            const quint32 check = Get<quint32>(in);
            if (check == Crc32(bytes.first(16)) && segment >= m_segments.front()
                && std::binary_search(m_segments.begin(), m_segments.end(), segment) && offset >= kStart
                && offset <= QFileInfo(SegmentPath(segment)).size())
                m_head = {segment, offset};
        }
    }
    m_nPendingReadings = 0;
    for (qint64 segment : m_segments)
        if (segment >= m_head.segment)
            m_nPendingReadings += CountReadings(segment, segment == m_head.segment ? m_head.offset : kStart);
    if (!m_writer.isOpen()) {
        m_writer.setFileName(SegmentPath(m_segments.back()));
        if (!m_writer.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            Close();
            return OpenResult::NotWritable;
        }
    }
    Rewind();
    Enforce();
    return OpenResult::Opened;
}

bool Outbox::RepairNewest()
{
    if (m_segments.empty())
        return true;
    QFile file(SegmentPath(m_segments.back()));
    if (!file.open(QIODevice::ReadWrite))
        return false;
    if (file.read(kStart) != kFileStart) {
        // Not even its start was written: it holds nothing.
        return file.resize(0) && file.write(kFileStart) == kStart && SyncData(file);
    }
    // A torn last record goes; damaged bytes with whole records after them
    // stay (reading passes over them), so nothing after the damage is lost.
    qint64 good = kStart;
    for (qint64 at = kStart; at < file.size();) {
        file.seek(at);
        if (ReadRecord(file)) {
            at = good = file.pos();
            continue;
        }
        at = NextWholeRecord(file, at);
        if (at < 0)
            break;
    }
    if (good < file.size())
        return file.resize(good);
    return true;
}

void Outbox::Close()
{
    if (m_writer.isOpen()) {
        Sync();
        m_writer.close();
    }
    m_reader.close();
    m_nReaderSegment = -1;
    m_segments.clear();
    m_nBytes = 0;
    m_nPendingReadings = 0;
    m_lock.reset();
    m_strFolder.clear();
}

bool Outbox::StartSegment(qint64 segment)
{
    if (m_writer.isOpen()) {
        Sync();
        m_writer.close();
    }
    m_writer.setFileName(SegmentPath(segment));
    if (!m_writer.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    if (m_writer.write(kFileStart) != kStart) {
        m_writer.close();
        QFile::remove(SegmentPath(segment));
        return false;
    }
    m_segments.push_back(segment);
    m_nBytes += kStart;
    m_bUnsynced = true;
    SyncFolder(m_strFolder); // the new name survives a power cut with its bytes
    return true;
}

bool Outbox::Append(char type, const QByteArray &payload)
{
    if (!IsOpen())
        return false;
    if (m_writer.size() >= m_nSegmentBytes && !StartSegment(m_segments.back() + 1))
        return false;
    QByteArray record(kRecordHead + payload.size() + 4, Qt::Uninitialized);
    char *out = record.data();
    Put<quint32>(out, quint32(payload.size()));
    *out++ = type;
    std::memcpy(out, payload.constData(), size_t(payload.size()));
    out += payload.size();
    Put<quint32>(out, Crc32(QByteArrayView(record.constData(), kRecordHead + payload.size())));
    const qint64 whole = m_writer.size();
    if (m_writer.write(record) != record.size()) {
        m_writer.resize(whole);
        return false;
    }
    m_nBytes += record.size();
    m_bUnsynced = true;
    Enforce();
    return true;
}

bool Outbox::AppendReadings(const OutboxAddress &address, qint64 run, qint64 seq, qint64 arrivedMs,
                            std::span<const TempSample> readings)
{
    const QByteArray station = Name(address.station);
    const QByteArray topic = Name(address.topic);
    while (!readings.empty()) {
        const auto count = std::min<size_t>(readings.size(), kMaxReadingsPerItem);
        QByteArray payload(kReadingsHead + 4 + station.size() + topic.size() + qsizetype(count) * kReadingBytes,
                           Qt::Uninitialized);
        char *out = payload.data();
        Put<qint64>(out, run);
        Put<qint64>(out, seq);
        Put<qint64>(out, arrivedMs);
        Put<quint32>(out, quint32(count));
        PutName(out, station);
        PutName(out, topic);
        for (size_t i = 0; i < count; ++i) {
            Put<qint64>(out, readings[i].utcMs);
            Put<quint64>(out, std::bit_cast<quint64>(readings[i].temperature));
        }
        if (!Append(kAddressedReadingsType, payload))
            return false;
        m_nPendingReadings += qint64(count);
        seq += qint64(count);
        readings = readings.subspan(count);
    }
    return true;
}

bool Outbox::AppendEvent(const OutboxAddress &address, const QByteArray &payload)
{
    return AppendAddressed(kAddressedEventType, address, payload);
}

bool Outbox::AppendChainLine(const OutboxAddress &address, const QByteArray &payload)
{
    return AppendAddressed(kAddressedChainType, address, payload);
}

bool Outbox::AppendAddressed(char type, const OutboxAddress &address, const QByteArray &payload)
{
    const QByteArray station = Name(address.station);
    const QByteArray topic = Name(address.topic);
    QByteArray record(4 + station.size() + topic.size(), Qt::Uninitialized);
    char *out = record.data();
    PutName(out, station);
    PutName(out, topic);
    return Append(type, record + payload);
}

bool Outbox::Sync()
{
    if (!m_bUnsynced || !m_writer.isOpen())
        return true;
    m_bUnsynced = !SyncData(m_writer);
    return !m_bUnsynced;
}

void Outbox::Rewind()
{
    m_cursor = m_head;
    m_expected.reset();
    m_bSkippedDamage = false;
}

std::optional<OutboxItem> Outbox::Next()
{
    while (IsOpen()) {
        if (m_nReaderSegment != m_cursor.segment) {
            m_reader.close();
            m_reader.setFileName(SegmentPath(m_cursor.segment));
            if (!m_reader.open(QIODevice::ReadOnly))
                return std::nullopt;
            m_nReaderSegment = m_cursor.segment;
        }
        if (m_reader.pos() != m_cursor.offset)
            m_reader.seek(m_cursor.offset);
        std::optional<RawRecord> record = ReadRecord(m_reader);
        if (!record) {
            // Damaged bytes are passed over to the next whole record; at the
            // segment's end, the next segment, if there is one.
            const qint64 next = m_cursor.offset < m_reader.size() ? NextWholeRecord(m_reader, m_cursor.offset) : -1;
            if (next >= 0) {
                qWarning("The publishing outbox's %s is damaged at byte %lld: reading goes on at byte %lld",
                         qPrintable(SegmentName(m_cursor.segment)), qlonglong(m_cursor.offset), qlonglong(next));
                m_bSkippedDamage = true;
                m_cursor.offset = next;
                continue;
            }
            const auto later = std::upper_bound(m_segments.begin(), m_segments.end(), m_cursor.segment);
            if (later == m_segments.end())
                return std::nullopt;
            if (m_cursor.offset < m_reader.size())
                m_bSkippedDamage = true; // the rest of this segment is damaged
            m_cursor = {*later, kStart};
            continue;
        }
        m_cursor.offset = m_reader.pos();
        std::optional<OutboxItem> item = Decode(record->type, record->payload);
        if (!item) {
            m_bSkippedDamage = true;
            continue;
        }
        item->end = m_cursor;
        CountLost(*item);
        return item;
    }
    return std::nullopt;
}

std::optional<OutboxItem> Outbox::Decode(char type, const QByteArray &payload) const
{
    OutboxItem item;
    const char *in = payload.constData();
    const char *end = in + payload.size();
    if (type == kEventType || type == kAddressedEventType || type == kAddressedChainType) {
        item.kind = type == kAddressedChainType ? OutboxItem::Kind::Chain : OutboxItem::Kind::Event;
        if (type != kEventType && (!GetName(in, end, &item.station) || !GetName(in, end, &item.topic)))
            return std::nullopt;
        item.event = QByteArray(in, end - in);
        return item;
    }
    if (payload.size() < kReadingsHead)
        return std::nullopt;
    item.run = Get<qint64>(in);
    item.seq = Get<qint64>(in);
    item.arrivedMs = Get<qint64>(in);
    const quint32 count = Get<quint32>(in);
    if (type == kAddressedReadingsType && (!GetName(in, end, &item.station) || !GetName(in, end, &item.topic)))
        return std::nullopt;
    if (end - in != qsizetype(count) * kReadingBytes)
        return std::nullopt;
    item.readings.resize(count);
    for (OutboxReading &reading : item.readings) {
        reading.utcMs = Get<qint64>(in);
        reading.temperature = std::bit_cast<double>(Get<quint64>(in));
    }
    return item;
}

void Outbox::CountLost(const OutboxItem &item)
{
    if (item.kind != OutboxItem::Kind::Readings)
        return;
    // Readings that a damaged record held: the hole in the run's numbering
    // right after the damage.
    if (m_bSkippedDamage && m_expected && m_expected->first == item.run && item.seq > m_expected->second) {
        const qint64 lost = item.seq - m_expected->second;
        m_nDamaged += lost;
        m_nPendingReadings = std::max<qint64>(0, m_nPendingReadings - lost);
    }
    m_bSkippedDamage = false;
    m_expected = std::pair(item.run, item.seq + qint64(item.readings.size()));
}

void Outbox::Acknowledge(const OutboxPosition &end, qint64 readings)
{
    if (!IsOpen() || end <= m_head)
        return; // already dropped for room, or acknowledged before
    m_head = end;
    m_nPendingReadings = std::max<qint64>(0, m_nPendingReadings - readings);
    Expire();
    if (m_cursor < m_head)
        m_cursor = m_head;
    SaveHead();
}

void Outbox::SetKeep(qint64 keepMs)
{
    m_nKeepMs = std::max<qint64>(0, keepMs);
}

void Outbox::Expire()
{
    if (!IsOpen())
        return;
    // Segments wholly acknowledged go once older than the keep; the newest
    // stays for what comes.
    const QDateTime keptSince = QDateTime::currentDateTimeUtc().addMSecs(-m_nKeepMs);
    while (m_segments.size() > 1
           && (m_segments.front() < m_head.segment
               || (m_segments.front() == m_head.segment
                   && m_head.offset >= QFileInfo(SegmentPath(m_head.segment)).size()))
           && (m_nKeepMs == 0 || QFileInfo(SegmentPath(m_segments.front())).lastModified().toUTC() < keptSince)) {
        const qint64 segment = m_segments.front();
        if (m_nReaderSegment == segment) {
            m_reader.close();
            m_nReaderSegment = -1;
        }
        m_nBytes -= QFileInfo(SegmentPath(segment)).size();
        QFile::remove(SegmentPath(segment));
        m_segments.erase(m_segments.begin());
        if (m_head.segment <= segment)
            m_head = {m_segments.front(), kStart};
    }
}

bool Outbox::ForEachItem(qint64 segment, const std::function<void(const OutboxItem &)> &take) const
{
    QFile file(SegmentPath(segment));
    if (!file.open(QIODevice::ReadOnly) || file.read(kStart) != kFileStart)
        return false;
    for (qint64 at = kStart; at < file.size();) {
        file.seek(at);
        std::optional<RawRecord> record = ReadRecord(file);
        if (!record) {
            at = NextWholeRecord(file, at);
            if (at < 0)
                break;
            continue;
        }
        at = file.pos();
        if (std::optional<OutboxItem> item = Decode(record->type, record->payload)) {
            item->end = {segment, at};
            take(*item);
        }
    }
    return true;
}

void Outbox::SaveHead()
{
    // Not made durable: after a power cut a few items may go again, and the
    // receiving end drops what it already has.
    QByteArray bytes(20, Qt::Uninitialized);
    char *out = bytes.data();
    Put<qint64>(out, m_head.segment);
    Put<qint64>(out, m_head.offset);
    Put<quint32>(out, Crc32(bytes.first(16)));
    QFile head(m_strFolder + QStringLiteral("/head"));
    if (head.open(QIODevice::WriteOnly | QIODevice::Truncate))
        head.write(bytes);
}

void Outbox::Enforce()
{
    while (m_nBytes > m_nLimit && m_segments.size() > 1)
        DropOldest();
}

void Outbox::DropOldest()
{
    const qint64 segment = m_segments.front();
    if (segment >= m_head.segment) {
        const qint64 dropped = CountReadings(segment, segment == m_head.segment ? m_head.offset : kStart);
        m_nDropped += dropped;
        m_nPendingReadings = std::max<qint64>(0, m_nPendingReadings - dropped);
    }
    if (m_nReaderSegment == segment) {
        m_reader.close();
        m_nReaderSegment = -1;
    }
    m_nBytes -= QFileInfo(SegmentPath(segment)).size();
    QFile::remove(SegmentPath(segment));
    m_segments.erase(m_segments.begin());
    if (m_head.segment <= segment) {
        m_head = {m_segments.front(), kStart};
        SaveHead();
    }
    if (m_cursor < m_head)
        m_cursor = m_head;
}

qint64 Outbox::CountReadings(qint64 segment, qint64 from) const
{
    QFile file(SegmentPath(segment));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return 0;
    qint64 count = 0;
    char head[kRecordHead + kReadingsHead];
    qint64 at = from;
    const qint64 size = file.size();
    while (at + kRecordHead <= size) {
        file.seek(at);
        const qint64 got = file.read(head, sizeof head);
        if (got < kRecordHead)
            break;
        const char *in = head;
        const quint32 length = Get<quint32>(in);
        if (length > kLongestPayload || !KnownType(head[4]) || at + kRecordHead + length + 4 > size) {
            // Damage: on at the next whole record, if any.
            at = NextWholeRecord(file, at);
            if (at < 0)
                break;
            continue;
        }
        if ((head[4] == kReadingsType || head[4] == kAddressedReadingsType) && got == qint64(sizeof head)) {
            const char *countAt = head + kRecordHead + 24;
            count += Get<quint32>(countAt);
        }
        at += kRecordHead + length + 4;
    }
    return count;
}
