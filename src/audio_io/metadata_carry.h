#pragma once
// The parts of carryMetadata shared between its files: where a position lands in the
// output, the list of what a target could not take, and the broadcast chunks (bext, iXML),
// whose fields restate the format and the time of the audio.
#include "audio_io/metadata.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sonteva::carry {

// The output frame holding the source's sound at frame `position`: rescaled to the output
// rate, moved later by the target's offset, rounded to the nearest frame.
int64_t placed(int64_t position, const CarryTarget& t);
// The time of the output's first frame, in output frames, for a source whose first frame
// was at `reference` source frames: rescaled, moved earlier by the offset, rounded.
// May be negative when the offset reaches back past the reference.
int64_t placedReference(int64_t reference, const CarryTarget& t);

// "70 000": thousands set apart, as the notes write counts.
std::string grouped(uint64_t n);

// What the target could not take, each item naming the thing and why; the carry turns
// them into one "metadata not carried to …" note.
using Losses = std::vector<std::string>;

// The bext body for a RIFF output: time reference moved, version 2 with its loudness fields
// "not calculated" until the writer fills them, a new UMID instance, this conversion's line
// in the coding history. `source` holds at least the 602 bytes of the fixed part.
std::vector<uint8_t> carriedBext(const std::vector<uint8_t>& source, const CarryTarget& t,
                                 Losses& lost);

// The iXML body with the format, the time reference and the sync points of the output.
// `bext` is the carried bext body (empty when there is none): iXML's copy of its fields
// follows it.
std::vector<uint8_t> carriedIxml(const std::vector<uint8_t>& source, const CarryTarget& t,
                                 const std::vector<uint8_t>& bext, Losses& lost);

} // namespace sonteva::carry
