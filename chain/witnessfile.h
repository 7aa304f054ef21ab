#pragma once

#include "chainline.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The chain lines a collector keeps of a station, "DIR/<station>/chain.csv"
// (CR LF): each line is the record folder as the station names it, a comma,
// and the chain line as the folder's chain has it. A folder's chain starts
// again at its line 1 when a folder of that name is begun afresh.
namespace WitnessFile {

constexpr const char *kFileName = "chain.csv";
constexpr const char *kHeader = "folder,number,time,file,size,sha256,chain,key,signature\r\n";

QByteArray Line(const QString &folder, const ChainLine &line);
// One line of the file without its line end: the folder and the chain line.
std::optional<std::pair<QString, ChainLine>> ParseLine(const QByteArray &text);

// The lines of the chain whose first line is `first`, from every station's
// chain.csv under `dir`; none when no chain there starts so.
std::optional<std::vector<ChainLine>> Find(const QString &dir, const ChainLine &first);

// The same from the bytes of one chain.csv.
std::optional<std::vector<ChainLine>> FindIn(const QByteArray &bytes, const ChainLine &first);

} // namespace WitnessFile
