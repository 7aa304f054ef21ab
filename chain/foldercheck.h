#pragma once

#include "chainline.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// What a record folder's files and its "calorivista.chain" say of each
// other: whether every file is as it was entered, and whether the chain
// itself is whole and signed.
struct FolderFinding
{
    enum class Kind {
        Changed,        // same size, other bytes
        CutShort,       // shorter than it was entered
        Grown,          // longer: something was written after its last line
        Removed,        // entered, but not there
        Added,          // there, but never entered
        ChainBroken,    // a line that does not read, is out of turn or does not follow the one before
        BadSignature,   // a line its key did not sign
        TailRemoved,    // lines the witness holds are no longer in the folder
        WitnessDiffers, // a line the witness holds otherwise
        UnknownToWitness, // the witness holds no line of this chain
    };
    Kind kind;
    QString file;    // where a file is meant
    qint64 line = 0; // where a chain line is meant (for TailRemoved: the first removed)

    QString English() const;
    QString Russian() const;
};

struct FolderCheck
{
    enum class Outcome { Untouched, Changed, CannotCheck };
    Outcome outcome = Outcome::CannotCheck;
    QString problem;                      // why it cannot be checked
    std::vector<FolderFinding> findings;  // in the folder's order
    qint64 lines = 0;
    QByteArray lastChain;                 // of the chain's last line
    QStringList fingerprints;             // the keys that signed it
    bool witnessed = false;

    // The state in a few words for a status bar: "записи не изменялись",
    // or what changed.
    QString RussianSummary() const;
};

// The lines a witness holds of one chain, in their order.
using WitnessLines = std::vector<ChainLine>;
// The witness's lines of the chain that starts with `first`; none when it
// holds no such chain.
using WitnessSource = std::function<std::optional<WitnessLines>(const ChainLine &first)>;

// Checks `folder`; with a witness also that its chain is the one published.
FolderCheck CheckFolder(const QString &folder, const WitnessSource &witness = {});

// The whole lines of a folder's chain as they stand (none when it has no
// chain this program wrote, or one larger than any it writes); for a witness
// that is to hold them.
std::vector<ChainLine> ChainLinesOf(const QString &folder);

// Whether a file of a record folder is left out of its chain: the chain,
// the lock and the program's passing files, and the configuration file.
bool IsOutsideChain(const QString &name);
