#pragma once

// A dashboard query as Grafana's PostgreSQL source expands it before the
// database sees it, for the tests and the figures.
#include <QDateTime>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

namespace grafanamacros {

// For the span of `spanSeconds` that ends at `to`, a panel of about a
// thousand points, and the station variable set to `stations` (quoted, comma-separated).
inline QString Expanded(QString sql, const QDateTime &to, qint64 spanSeconds, const QString &stations)
{
    const QString from = QStringLiteral("'%1'").arg(to.addSecs(-spanSeconds).toUTC().toString(Qt::ISODate));
    const QString until = QStringLiteral("'%1'").arg(to.toUTC().toString(Qt::ISODate));
    const qint64 interval = std::max<qint64>(1, spanSeconds / 1000);
    sql.replace(QRegularExpression(QStringLiteral("\\$__timeFilter\\((\\w+)\\)")), QStringLiteral("\\1 BETWEEN %1 AND %2").arg(from, until));
    // Grafana's grouping macro gives epoch seconds, not a time.
    sql.replace(QRegularExpression(QStringLiteral("\\$__timeGroupAlias\\((\\w+), *\\$__interval\\)")),
                QStringLiteral("floor(extract(epoch from \\1)/%1)*%1 AS \"time\"").arg(interval));
    sql.replace(QStringLiteral("$__timeFrom()"), from);
    sql.replace(QStringLiteral("$__timeTo()"), until);
    sql.replace(QStringLiteral("$station"), stations);
    return sql;
}

} // namespace grafanamacros
