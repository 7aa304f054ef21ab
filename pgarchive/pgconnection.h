#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// One connection to the lab's PostgreSQL through libpq, and its results,
// each freed with its owner. Commands are sent with their parameters apart
// from the SQL, never spliced into it.
class PgConnection
{
public:
    struct ResultDeleter
    {
        void operator()(pg_result *result) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;
    using Params = std::vector<std::optional<QByteArray>>; // none: SQL NULL

    // `conninfo` is libpq's keyword/value string or URI; a password in it is
    // refused (it would be on a command line). `password` comes from a file
    // the caller read, or is empty for ~/.pgpass and PGPASSFILE.
    PgConnection(QString conninfo, QString password, QString applicationName);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // A conninfo the program takes: parsed by libpq, no password in it.
    static bool CheckConninfo(const QString &conninfo, QString *error);

    bool Open(QString *error);
    void Close();
    bool IsOpen() const;

    // A command's result, or none with libpq's message (the connection is
    // closed when it broke).
    std::optional<Result> Exec(const char *sql, const Params &params, QString *error);
    // The same with every field in PostgreSQL's binary form (an int8 as 8
    // bytes in network order, a timestamptz as microseconds since 2000):
    // no text to make on the server and parse here, for long reads.
    std::optional<Result> ExecBinary(const char *sql, const Params &params, QString *error);
    bool Run(const char *sql, const Params &params, QString *error) { return Exec(sql, params, error).has_value(); }
    bool Run(const char *sql, QString *error) { return Run(sql, {}, error); }
    // COPY … FROM STDIN with the rows in COPY's text format.
    bool CopyIn(const char *sql, const QByteArray &rows, QString *error);

    // The SQLSTATE of the last failure ("40P01" a deadlock, …), empty if none.
    QByteArray LastState() const { return m_lastState; }

    // A field of a result: text, or none for NULL.
    static std::optional<QByteArray> Value(const Result &result, int row, int column);
    static int Rows(const Result &result);
    // Binary fields: an int8, and a timestamptz as ms since 1970.
    static qint64 BinaryInt8(const Result &result, int row, int column);
    static qint64 BinaryTimeMs(const Result &result, int row, int column);

private:
    std::optional<Result> Execute(const char *sql, const Params &params, int format, QString *error);
    QString Failed(pg_result *result);

    QString m_strConninfo;
    QString m_strPassword;
    QString m_strApplication;
    pg_conn *m_conn = nullptr;
    QByteArray m_lastState;
};

// COPY's text format: a field with its backslash, tab and line ends escaped.
void AppendCopyField(QByteArray &out, QByteArrayView field);
