#include "pgconnection.h"

#include <QtEndian>

#include <libpq-fe.h>

void PgConnection::ResultDeleter::operator()(pg_result *result) const
{
    PQclear(result);
}

PgConnection::PgConnection(QString conninfo, QString password, QString applicationName)
    : m_strConninfo(std::move(conninfo))
    , m_strPassword(std::move(password))
    , m_strApplication(std::move(applicationName))
{
}

PgConnection::~PgConnection()
{
    Close();
}

bool PgConnection::CheckConninfo(const QString &conninfo, QString *error)
{
    char *message = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &message);
    if (!options) {
        *error = message ? QString::fromUtf8(message).trimmed() : QStringLiteral("out of memory");
        PQfreemem(message);
        return false;
    }
    bool password = false;
    for (PQconninfoOption *option = options; option->keyword; ++option)
        password = password || (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val);
    PQconninfoFree(options);
    if (password) {
        *error = QStringLiteral("a password does not belong on the command line: use ~/.pgpass, PGPASSFILE or --db-password-file");
        return false;
    }
    return true;
}

bool PgConnection::Open(QString *error)
{
    Close();
    const QByteArray conninfo = m_strConninfo.toUtf8();
    const QByteArray password = m_strPassword.toUtf8();
    const QByteArray application = m_strApplication.toUtf8();
    // The conninfo first (expanded in place), then what it may not set itself.
    std::vector<const char *> keywords {"dbname", "application_name", "connect_timeout", "keepalives_idle", "keepalives_interval",
                                        "keepalives_count", "options"};
    std::vector<const char *> values {conninfo.constData(), application.constData(), "5", "10", "5", "3", "-c TimeZone=UTC"};
    if (!password.isEmpty()) {
        keywords.push_back("password");
        values.push_back(password.constData());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keywords.data(), values.data(), 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        *error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        Close();
        return false;
    }
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr); // "already exists, skipping" and the like
    return true;
}

void PgConnection::Close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::IsOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgConnection::Failed(pg_result *result)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    m_lastState = state ? QByteArray(state) : QByteArray();
    const QString message = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn)).trimmed();
    if (PQstatus(m_conn) != CONNECTION_OK)
        Close();
    return message.isEmpty() ? QStringLiteral("the database did not answer") : message;
}

std::optional<PgConnection::Result> PgConnection::Exec(const char *sql, const Params &params, QString *error)
{
    return Execute(sql, params, 0, error);
}

std::optional<PgConnection::Result> PgConnection::ExecBinary(const char *sql, const Params &params, QString *error)
{
    return Execute(sql, params, 1, error);
}

qint64 PgConnection::BinaryInt8(const Result &result, int row, int column)
{
    if (PQgetisnull(result.get(), row, column) || PQgetlength(result.get(), row, column) != 8)
        return 0;
    return qFromBigEndian<qint64>(PQgetvalue(result.get(), row, column));
}

qint64 PgConnection::BinaryTimeMs(const Result &result, int row, int column)
{
    constexpr qint64 k2000Ms = 946684800000; // PostgreSQL counts from 2000-01-01 UTC
    const qint64 us = BinaryInt8(result, row, column) + 500; // to the nearest millisecond
    return k2000Ms + (us >= 0 ? us / 1000 : -((-us + 999) / 1000));
}

std::optional<PgConnection::Result> PgConnection::Execute(const char *sql, const Params &params, int format, QString *error)
{
    if (!IsOpen()) {
        *error = QStringLiteral("not connected to the database");
        return std::nullopt;
    }
    std::vector<const char *> values;
    values.reserve(params.size());
    for (const std::optional<QByteArray> &param : params)
        values.push_back(param ? param->constData() : nullptr);
    // Without parameters a string of several commands may go at once (the tables' making).
    Result result(params.empty() && format == 0
                      ? PQexec(m_conn, sql)
                      : PQexecParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, format));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        *error = Failed(result.get());
        return std::nullopt;
    }
    m_lastState.clear();
    return result;
}

bool PgConnection::CopyIn(const char *sql, const QByteArray &rows, QString *error)
{
    if (!IsOpen()) {
        *error = QStringLiteral("not connected to the database");
        return false;
    }
    Result start(PQexec(m_conn, sql));
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) {
        *error = Failed(start.get());
        return false;
    }
    // Sent in pieces so that libpq never holds a second copy of it all.
    constexpr qsizetype kPiece = 1 << 20;
    bool sent = true;
    for (qsizetype at = 0; sent && at < rows.size(); at += kPiece)
        sent = PQputCopyData(m_conn, rows.constData() + at, int(std::min(kPiece, rows.size() - at))) == 1;
    if (PQputCopyEnd(m_conn, sent ? nullptr : "the rows could not be sent") != 1) {
        *error = Failed(nullptr);
        return false;
    }
    Result end(PQgetResult(m_conn));
    const bool copied = end && PQresultStatus(end.get()) == PGRES_COMMAND_OK;
    if (!copied)
        *error = Failed(end.get());
    while (Result more {PQgetResult(m_conn)}) {
    }
    return copied;
}

std::optional<QByteArray> PgConnection::Value(const Result &result, int row, int column)
{
    if (PQgetisnull(result.get(), row, column))
        return std::nullopt;
    return QByteArray(PQgetvalue(result.get(), row, column), PQgetlength(result.get(), row, column));
}

int PgConnection::Rows(const Result &result)
{
    return PQntuples(result.get());
}

void AppendCopyField(QByteArray &out, QByteArrayView field)
{
    for (const char c : field) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}
