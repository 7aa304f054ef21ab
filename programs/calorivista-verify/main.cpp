// calorivista-verify: whether a record folder's files are as they were
// written, by its chain, and with a witness whether the chain is whole.
#include "foldercheck.h"
#include "nativename.h"
#include "pgconnection.h"
#include "pgwitness.h"
#include "witnessfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] = R"(NAME
    calorivista-verify - check a Calorivista record folder against its chain

SYNOPSIS
    calorivista-verify FOLDER [--witness DIR | --db CONNINFO]

DESCRIPTION
    A station enters each data file when it writes it, and events.csv and the
    comment file at every save and at the run's end, into the folder's
    calorivista.chain: one line per entry with the file's size and SHA-256,
    chained to the line before and signed with the station's Ed25519 key.
    This program reads the folder's files again and checks every line.

    Without a witness it cannot tell lines removed from the chain's end
    together with their files. --witness DIR names a collector's --out
    folder, whose <station>/chain.csv holds what the station published.
    --db CONNINFO names a collector's PostgreSQL database (libpq's
    keyword/value string or URI, without a password: libpq reads it from
    ~/.pgpass or PGPASSFILE), whose chain table holds the same.
    Then the folder's chain must be the one the witness holds, line for line.

OUTPUT
    One line per finding: a file changed, cut short, written to after its
    last entry, removed, or added after the fact; the first line where the
    chain breaks; a signature that does not hold; lines the witness holds
    that the folder lacks. Then a summary with the chain's last hash and the
    fingerprints of the keys that signed it.

EXIT STATUS
    0   every file matches its chain line and every signature holds
    1   something changed; each finding is named
    2   it cannot check: no chain (an unsigned folder, recorded before
        chains were kept), an unreadable folder or witness (a database that
        cannot be reached), a usage error
)";

int Usage(const char *problem)
{
    std::fprintf(stderr, "calorivista-verify: %s\nTry calorivista-verify --help.\n", problem);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString folder;
    QString witnessDir;
    QString conninfo;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argument, "--help") || !std::strcmp(argument, "-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (!std::strcmp(argument, "--witness") && hasValue) {
            witnessDir = FromNativeName(argv[++i]);
        } else if (!std::strcmp(argument, "--db") && hasValue) {
            conninfo = QString::fromLocal8Bit(argv[++i]);
        } else if (argument[0] == '-' || !folder.isEmpty()) {
            return Usage("unknown argument or missing value");
        } else {
            folder = FromNativeName(argv[i]);
        }
    }
    if (folder.isEmpty())
        return Usage("no folder named");
    if (!witnessDir.isEmpty() && !conninfo.isEmpty())
        return Usage("--witness and --db are two witnesses: name one");

    QTextStream out(stdout);
    QTextStream err(stderr);
    WitnessSource witness;
    if (!witnessDir.isEmpty()) {
        if (!QDir(witnessDir).exists()) {
            err << "calorivista-verify: the witness folder " << witnessDir << " cannot be read\n";
            return 2;
        }
        witness = [&witnessDir](const ChainLine &first) { return WitnessFile::Find(witnessDir, first); };
    }
    QString conninfoProblem;
    if (!conninfo.isEmpty() && !PgConnection::CheckConninfo(conninfo, &conninfoProblem)) {
        err << "calorivista-verify: --db: " << conninfoProblem << "\n";
        return 2;
    }
    PgConnection db(conninfo, QString(), QStringLiteral("calorivista-verify"));
    QString dbProblem;
    if (!conninfo.isEmpty()) {
        if (!db.Open(&dbProblem)) {
            err << "calorivista-verify: the database cannot be reached: " << dbProblem << "\n";
            return 2;
        }
        witness = [&db, &dbProblem](const ChainLine &first) { return FindChainInDatabase(db, first, &dbProblem); };
    }

    const FolderCheck check = CheckFolder(QDir(folder).absolutePath(), witness);
    const QString shown = QDir::toNativeSeparators(folder);
    if (!dbProblem.isEmpty()) { // a witness that could not be read is no witness
        err << "calorivista-verify: the database's chain table cannot be read: " << dbProblem << "\n";
        return 2;
    }
    if (check.outcome == FolderCheck::Outcome::CannotCheck) {
        out << shown << ": cannot be checked: " << check.problem << "\n";
        return 2;
    }
    for (const FolderFinding &finding : check.findings)
        out << shown << ": " << finding.English() << "\n";
    out << shown << ": " << (check.outcome == FolderCheck::Outcome::Untouched ? "untouched" : "CHANGED") << ", "
        << check.lines << " chain lines, last chain hash " << QString::fromLatin1(check.lastChain) << ", signed by "
        << check.fingerprints.join(QStringLiteral(", ")) << "\n";
    if (check.witnessed && check.outcome == FolderCheck::Outcome::Untouched)
        out << shown << ": the witness holds the same chain\n";
    if (!check.witnessed)
        out << shown << ": without a witness (--witness), lines removed from the chain's end cannot be told\n";
    return check.outcome == FolderCheck::Outcome::Untouched ? 0 : 1;
}
