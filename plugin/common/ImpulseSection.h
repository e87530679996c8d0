#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ImpulseSource.h"

namespace corvex {

// The user IR inside a plug-in state, after the kStateSize bytes of parameters. Little-endian:
//
//   offset  bytes  field
//        0      4  "CVIR"
//        4      2  version, 1
//        6      1  sample coding: 24 = 24-bit integers k (the sample is k / 2^23), 32 = IEEE floats
//        7      1  channels, 1 or 2
//        8      4  the section's length in bytes, checksum included
//       12      8  the file's rate, IEEE double
//       20      4  frames
//       24      2  the name's length in bytes
//       26      n  the name, UTF-8
//     26+n      .  channels × frames samples, interleaved, 3 or 4 bytes each
//    end-4      4  CRC-32 (ISO-HDLC, as zip's) of every byte before it
//
// Samples that are all k / 2^23 (24-bit files, most IRs) take 3 bytes, others keep their 32 float
// bits; either way every bit comes back. Encoding is canonical: each source has one section.
constexpr std::uint16_t kImpulseSectionVersion = 1;
constexpr std::size_t kImpulseSectionHeaderBytes = 26;
constexpr std::size_t kImpulseSectionCrcBytes = 4;

// The section of a source ImpulseProblem accepts.
std::vector<std::uint8_t> EncodeImpulseSection(const ImpulseSource& source);
// A section of exactly size bytes. False with a short reason, out untouched, when it is damaged,
// truncated, followed by other bytes, of a newer version or not in its canonical coding, or holds
// a source ImpulseProblem refuses (oversized, rate out of range, non-finite, silent, bad name).
bool DecodeImpulseSection(const std::uint8_t* data, std::size_t size, ImpulseSource& out, std::string& error);

// CRC-32 with the polynomial 0xEDB88320, reflected, initial and final value 0xFFFFFFFF.
std::uint32_t ImpulseCrc32(const std::uint8_t* data, std::size_t size);

} // namespace corvex
