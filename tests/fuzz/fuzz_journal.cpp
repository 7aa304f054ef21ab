// The journal reader on any bytes a killed run, a full disk or a damaged
// disk can leave.
#include "journalformat.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const JournalContents contents = ReadJournal(bytes);
    // A reading takes at least 24 bytes of a record (format 1).
    if (contents.readings.size() * 24 > size)
        std::abort();
    if (contents.status != JournalContents::Status::Read && !contents.readings.empty())
        std::abort();
    return 0;
}
