#pragma once
// Metadata laid out as each container stores it. RIFF and AIFF get whole chunks (header,
// body, pad byte), ready to go in front of the audio chunk; FLAC gets metadata blocks,
// inserted into a finished file. Every layout follows its published description: EBU Tech
// 3285 (bext), RIFF/MCI (LIST INFO, cue, adtl), AIFF 1.3, and the FLAC format.
#include "audio_io/metadata.h"

#include <cstdint>
#include <vector>

namespace sonteva {

// `loudness` null: the version-2 bext fields stay "not calculated"; the size of the result
// does not depend on it.
std::vector<uint8_t> riffMetadataChunks(const Metadata& m, const LoudnessSummary* loudness);
// AIFF readers that skip a chunk by its size field alone lose their way after an odd-sized
// one, and never find the sound data if it comes first: chunks of an odd size go after the
// sound data, the others in front of it.
enum class AiffPlace { beforeSound, afterSound };
std::vector<uint8_t> aiffMetadataChunks(const Metadata& m,
                                        AiffPlace place = AiffPlace::beforeSound);

// A FLAC metadata block holds at most this many bytes (a 24-bit length).
inline constexpr size_t kFlacBlockLimit = 0xFFFFFF;
// Room kept in the Vorbis comment block for the encoder's vendor string, which is cut to it.
inline constexpr size_t kFlacVendorRoom = 256;

// A chunk of `total` bytes (at least 8, even) that readers skip: RIFF "JUNK", AIFF "FLLR".
std::vector<uint8_t> fillerChunk(uint64_t total, bool aiff);

// Rewrites the metadata blocks of the finished FLAC file open as `fd`: keeps its stream
// information and the encoder's vendor string, adds the Vorbis comments, the cue sheet (its
// lead-out at `frames`), the pictures and application blocks, and moves the audio frames
// when the metadata changes size. Throws AudioError on a write failure.
void rewriteFlacMetadata(int fd, const Metadata& m, int64_t frames);

} // namespace sonteva
