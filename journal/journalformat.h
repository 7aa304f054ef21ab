#pragma once

#include "tempsample.h"

#include <QByteArray>
#include <QString>

#include <span>
#include <vector>

// What a recovery needs to write a run's unsaved readings as the run's next
// save would have: the record folder, the number of the next data file and
// that file's reference time.
struct JournalHeader
{
    QString folder; // absolute path
    int nextFile = 0;
    SYSTEMTIME reference {};
    std::int64_t referenceUtcMs = 0; // its instant; 0 where not known
};

// The journal file: eight bytes "CVJRNL" and a 16-bit format version, then
// records. A record is its payload's length (32 bits), its type (8 bits), the
// payload and a CRC-32 of all of these, little-endian throughout. A header
// record holds a JournalHeader (the last one counts); a readings record holds
// readings exactly as the store keeps them (the eight 16-bit time fields, the
// temperature's 64 bits and, from version 2 on, the 64-bit instant; the
// header then carries its reference's instant too). Version 1 is still read. A record that is cut short or fails its check
// is never misread: it is counted as unreadable and reading goes on at the
// next whole record.
namespace journalformat {

inline constexpr int kVersion = 2;

QByteArray FileStart();
QByteArray HeaderRecord(const JournalHeader &header);
// One record for each run of at most kMaxReadingsPerRecord readings.
QByteArray ReadingsRecords(std::span<const TempSample> readings);
inline constexpr int kMaxReadingsPerRecord = 4096;

} // namespace journalformat

// What a journal file holds, read back.
struct JournalContents
{
    enum class Status {
        Read,        // the whole records, up to the first torn one
        NotAJournal, // it does not start as a journal does
        NewerFormat, // written by a later version of the program: left alone
    };
    Status status = Status::NotAJournal;
    bool hasHeader = false;
    JournalHeader header;
    std::vector<TempSample> readings;
    int unreadableRecords = 0; // places where bytes were no whole record
};

JournalContents ReadJournal(const QByteArray &bytes);
