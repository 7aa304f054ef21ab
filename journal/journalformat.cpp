#include "journalformat.h"

#include "crc32.h"
#include "nativename.h"

#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

const char kMagic[] = "CVJRNL";
constexpr int kMagicSize = 6;
constexpr int kFileStartSize = 8;
constexpr char kHeaderType = 'H';
constexpr char kReadingsType = 'R';
constexpr int kTimeSize = 16;
constexpr int kOldestVersion = 1;

// Bytes of one reading, and the least a header's payload takes, in a version.
constexpr int ReadingSize(int version)
{
    return kTimeSize + 8 + (version >= 2 ? 8 : 0);
}

constexpr int LeastHeaderSize(int version)
{
    return 4 + kTimeSize + (version >= 2 ? 8 : 0) + 4;
}
constexpr int kRecordOverhead = 4 + 1 + 4; // length, type, check

template<typename T>
void Put(QByteArray &out, T value)
{
    const T little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&little), sizeof little);
}

void PutTime(QByteArray &out, const SYSTEMTIME &st)
{
    for (std::uint16_t field : {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                st.wMilliseconds})
        Put<std::uint16_t>(out, field);
}

QByteArray Record(char type, const QByteArray &payload)
{
    QByteArray record;
    record.reserve(payload.size() + kRecordOverhead);
    Put<std::uint32_t>(record, static_cast<std::uint32_t>(payload.size()));
    record.append(type);
    record.append(payload);
    Put<std::uint32_t>(record, Crc32(record));
    return record;
}

// Reads fixed-size little-endian values off the front of a payload.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    template<typename T>
    bool Get(T &value)
    {
        if (m_bytes.size() < qsizetype(sizeof(T)))
            return false;
        value = qFromLittleEndian<T>(m_bytes.data());
        m_bytes = m_bytes.sliced(sizeof(T));
        return true;
    }

    bool GetTime(SYSTEMTIME &st)
    {
        return Get(st.wYear) && Get(st.wMonth) && Get(st.wDayOfWeek) && Get(st.wDay) && Get(st.wHour)
            && Get(st.wMinute) && Get(st.wSecond) && Get(st.wMilliseconds);
    }

    bool GetBytes(qsizetype size, QByteArrayView &bytes)
    {
        if (size < 0 || m_bytes.size() < size)
            return false;
        bytes = m_bytes.first(size);
        m_bytes = m_bytes.sliced(size);
        return true;
    }

    bool AtEnd() const { return m_bytes.isEmpty(); }

private:
    QByteArrayView m_bytes;
};

bool ParseHeader(QByteArrayView payload, int version, JournalHeader &header)
{
    Reader in(payload);
    std::int32_t nextFile = 0;
    std::uint32_t folderSize = 0;
    QByteArrayView folder;
    if (!in.Get(nextFile) || !in.GetTime(header.reference) || (version >= 2 && !in.Get(header.referenceUtcMs))
        || !in.Get(folderSize) || !in.GetBytes(qsizetype(folderSize), folder) || !in.AtEnd())
        return false;
    header.nextFile = nextFile;
    header.folder = FromNativeName(folder.toByteArray());
    return true;
}

bool ParseReadings(QByteArrayView payload, int version, std::vector<TempSample> &readings)
{
    Reader in(payload);
    std::uint32_t count = 0;
    if (!in.Get(count) || payload.size() != 4 + qsizetype(count) * ReadingSize(version))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        TempSample reading {};
        std::uint64_t bits = 0;
        in.GetTime(reading.time);
        in.Get(bits);
        if (version >= 2)
            in.Get(reading.utcMs);
        reading.temperature = std::bit_cast<double>(bits);
        readings.push_back(reading);
    }
    return true;
}

} // namespace

namespace journalformat {

QByteArray FileStart()
{
    QByteArray start(kMagic, kMagicSize);
    Put<std::uint16_t>(start, kVersion);
    return start;
}

QByteArray HeaderRecord(const JournalHeader &header)
{
    const QByteArray folder = ToNativeName(header.folder);
    QByteArray payload;
    Put<std::int32_t>(payload, header.nextFile);
    PutTime(payload, header.reference);
    Put<std::int64_t>(payload, header.referenceUtcMs);
    Put<std::uint32_t>(payload, static_cast<std::uint32_t>(folder.size()));
    payload.append(folder);
    return Record(kHeaderType, payload);
}

QByteArray ReadingsRecords(std::span<const TempSample> readings)
{
    QByteArray records;
    while (!readings.empty()) {
        const std::span<const TempSample> part = readings.first(std::min<size_t>(readings.size(), kMaxReadingsPerRecord));
        QByteArray payload;
        payload.reserve(4 + qsizetype(part.size()) * ReadingSize(journalformat::kVersion));
        Put<std::uint32_t>(payload, static_cast<std::uint32_t>(part.size()));
        for (const TempSample &reading : part) {
            PutTime(payload, reading.time);
            Put<std::uint64_t>(payload, std::bit_cast<std::uint64_t>(reading.temperature));
            Put<std::int64_t>(payload, reading.utcMs);
        }
        records.append(Record(kReadingsType, payload));
        readings = readings.subspan(part.size());
    }
    return records;
}

} // namespace journalformat

namespace {

// The record at the front of `rest`, when it is whole and understood: its
// size; what it holds goes into `contents`. Zero for anything else.
qsizetype TakeRecord(QByteArrayView rest, int version, JournalContents &contents)
{
    Reader in(rest);
    std::uint32_t length = 0;
    std::uint8_t type = 0;
    if (!in.Get(length) || length > std::uint32_t(rest.size() - kRecordOverhead) || !in.Get(type))
        return 0;
    // Cheap checks first: a search for the next record after damage tries
    // every offset, and most fail here without a checksum.
    if (type == std::uint8_t(kReadingsType)) {
        std::uint32_t count = 0;
        const std::uint32_t size = ReadingSize(version);
        if (length < 4 || (length - 4) % size != 0 || !Reader(rest.sliced(5)).Get(count) || count != (length - 4) / size)
            return 0;
    } else if (type != std::uint8_t(kHeaderType) || length < std::uint32_t(LeastHeaderSize(version))) {
        return 0;
    }
    QByteArrayView payload;
    std::uint32_t check = 0;
    if (!in.GetBytes(qsizetype(length), payload) || !in.Get(check) || check != Crc32(rest.first(qsizetype(length) + 5)))
        return 0;
    if (type == std::uint8_t(kHeaderType)) {
        JournalHeader header;
        if (!ParseHeader(payload, version, header))
            return 0;
        contents.header = header;
        contents.hasHeader = true;
    } else if (!ParseReadings(payload, version, contents.readings)) {
        return 0;
    }
    return qsizetype(length) + kRecordOverhead;
}

} // namespace

JournalContents ReadJournal(const QByteArray &bytes)
{
    JournalContents contents;
    if (bytes.size() < kFileStartSize || std::memcmp(bytes.constData(), kMagic, kMagicSize) != 0)
        return contents;
    const std::uint16_t version = qFromLittleEndian<std::uint16_t>(bytes.constData() + kMagicSize);
    if (version > journalformat::kVersion)
        contents.status = JournalContents::Status::NewerFormat;
    if (version < kOldestVersion || version > journalformat::kVersion)
        return contents;
    contents.status = JournalContents::Status::Read;

    // Records are read in order. Bytes that are no whole record (a write torn
    // by a power cut, a damaged sector) count as one unreadable record each
    // time they occur, and reading goes on at the next whole record after
    // them, so that damage costs only what it hit.
    QByteArrayView rest = QByteArrayView(bytes).sliced(kFileStartSize);
    bool inDamage = false;
    while (!rest.isEmpty()) {
        const qsizetype size = TakeRecord(rest, version, contents);
        if (size > 0) {
            rest = rest.sliced(size);
            inDamage = false;
            continue;
        }
        if (!inDamage)
            ++contents.unreadableRecords;
        inDamage = true;
        rest = rest.sliced(1);
    }
    return contents;
}
