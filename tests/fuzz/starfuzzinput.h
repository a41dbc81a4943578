#pragma once
// How fuzz_starfinder reads its input, shared with the seed writer: a 16-byte header, then
// pixel data repeated to fill the image.
//
//   byte 0, 1   width and height: 8 + byte % 120
//   byte 2      search window half width s: 1 + byte % 20 (the dialogs' range)
//   byte 3      bit 0 colour, bit 1 automatic threshold, bit 2 patterns by runs,
//               bit 3 marked copy, bits 4-5 sample encoding (0 float, 1 8-bit, 2 16-bit,
//               3 8-bit with every 64th sample an infinity or NaN)
//   byte 4-7    threshold (float, any bits)
//   byte 8-11   saturation level (float, any bits)
//   byte 12, 13 the second frame's shift in x and y (signed bytes)
//   byte 14     the second frame's rotation in degrees (signed byte)
//   byte 15     unused
// 8- and 16-bit samples are scaled to 0 ... 1; float samples are taken as they are, so NaN,
// infinities and denormals reach the finder.
#include <cstddef>
#include <cstdint>

namespace fuzzing {

constexpr std::size_t kStarHeaderBytes = 16;

enum StarFlags : std::uint8_t { kStarColour = 1, kStarAutoThreshold = 2, kStarPatternRuns = 4, kStarMarked = 8 };
enum StarEncoding : std::uint8_t { kStarFloat = 0, kStarBytes = 1, kStarWords = 2, kStarBytesWithSpecials = 3 };

} // namespace fuzzing
