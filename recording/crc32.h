#pragma once

#include <QByteArrayView>

#include <cstdint>

// CRC-32 (the one of zip and Ethernet). Qt offers only a 16-bit checksum, which
// would let one torn journal record in 65 536 pass for a whole one.
std::uint32_t Crc32(QByteArrayView bytes);
