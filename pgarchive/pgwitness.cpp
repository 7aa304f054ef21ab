#include "pgwitness.h"

#include "pgconnection.h"
#include "witnessfile.h"

std::optional<std::vector<ChainLine>> FindChainInDatabase(PgConnection &db, const ChainLine &first, QString *error)
{
    // Where that chain began: its station and folder; a folder begun afresh
    // starts another chain there, which FindIn tells apart.
    const auto start = db.Exec("SELECT station, folder, id FROM chain WHERE number = 1 AND chain = $1 ORDER BY id LIMIT 1",
                               {first.chain}, error);
    if (!start || PgConnection::Rows(*start) == 0)
        return std::nullopt;
    const auto rows = db.Exec("SELECT folder, number, time, file, size, sha256, chain, key, signature FROM chain "
                              "WHERE station = $1 AND folder = $2 AND id >= $3 ORDER BY id LIMIT 1000000",
                              {PgConnection::Value(*start, 0, 0), PgConnection::Value(*start, 0, 1), PgConnection::Value(*start, 0, 2)},
                              error);
    if (!rows)
        return std::nullopt;
    QByteArray bytes;
    for (int row = 0; row < PgConnection::Rows(*rows); ++row) {
        const auto field = [&](int column) { return PgConnection::Value(*rows, row, column).value_or(QByteArray()); };
        ChainLine line;
        line.number = field(1).toLongLong();
        line.time = field(2);
        line.file = QString::fromUtf8(field(3));
        line.size = field(4).toLongLong();
        line.sha256 = field(5);
        line.chain = field(6);
        line.key = field(7);
        line.signature = field(8);
        bytes += WitnessFile::Line(QString::fromUtf8(field(0)), line);
    }
    return WitnessFile::FindIn(bytes, first);
}
