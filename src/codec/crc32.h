// CRC-32 as zlib, PNG and Ethernet compute it: polynomial 0xEDB88320,
// reflected, all ones in and out, so that "123456789" gives 0xCBF43926. It
// finds every burst of up to 32 flipped bits in what it covers.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of the bytes that gave crc (0 for none) followed by these.
uint32_t UpdateCrc32(uint32_t crc, const void* bytes, size_t size);
