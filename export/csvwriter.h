#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class LocalTimeLine;
class QIODevice;
struct FolderReading;

// Writes readings as RFC 4180 CSV (comma-separated, CR LF line ends) with the
// header row "time,elapsed_s,temperature_c,file": the local time in ISO 8601
// with its UTC offset and milliseconds, the seconds since the first reading
// written, the temperature as the data file has it, and the data file's name.
class CsvWriter
{
public:
    CsvWriter(QIODevice &out, LocalTimeLine &timeLine);

    bool Header();
    // Goes on with a file that already holds `rows` rows, the first at `firstMs`.
    void Resume(qint64 firstMs, qint64 rows)
    {
        m_nFirstMs = firstMs;
        m_nRows = rows;
    }
    bool Row(const FolderReading &reading);
    // Writes what is still buffered; false when any write failed.
    bool Finish();
    qint64 Rows() const { return m_nRows; }

private:
    bool Flush();

    QIODevice &m_out;
    LocalTimeLine &m_timeLine;
    QByteArray m_buffer;
    qint64 m_nFirstMs = 0;
    qint64 m_nRows = 0;
    bool m_bFailed = false;
};

// A CSV field as RFC 4180 writes it: quoted (quotes doubled) when it holds a
// comma, a quote or a line end; as it is otherwise.
QByteArray CsvField(const QByteArray &bytes);
inline QByteArray CsvField(const QString &text)
{
    return CsvField(text.toUtf8());
}

// "2026-12-09T15:57:00.250+01:00" for an instant and the zone's offset then;
// writes at `out` (room for 29 bytes) and returns the end.
char *WriteIsoTime(char *out, qint64 utcMs, int offsetSeconds);
