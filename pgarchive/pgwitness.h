#pragma once

#include "chainline.h"

#include <QString>

#include <optional>
#include <vector>

class PgConnection;

// The lines of the chain whose first line is `first`, as a collector's
// chain table holds them (read as a chain.csv would be: see WitnessFile);
// none when the table holds no chain that starts so. `error` is set when
// the table cannot be read.
std::optional<std::vector<ChainLine>> FindChainInDatabase(PgConnection &db, const ChainLine &first, QString *error);
