#pragma once
// Metadata laid out as each container stores it. RIFF and AIFF get whole chunks (header,
// body, pad byte), ready to go in front of the audio chunk; FLAC gets metadata blocks,
// inserted into a finished file. Every layout follows its published description: EBU Tech
// 3285 (bext), RIFF/MCI (LIST INFO, cue, adtl), AIFF 1.3, and the FLAC format.
#include "audio_io/metadata.h"

#include <cstdint>
#include <vector>

namespace sonteva {

// Chunks laid out for the two places a file can hold them: in front of the audio chunk,
// up to `frontRoom` bytes (the small ones first, in their order), and behind it.
struct ChunkLayout {
    std::vector<uint8_t> front, back;
};

// `loudness` null: the version-2 bext fields stay "not calculated"; the size of the result
// does not depend on it.
ChunkLayout riffMetadataLayout(const Metadata& m, const LoudnessSummary* loudness,
                               uint64_t frontRoom);
// AIFF readers that skip a chunk by its size field alone lose their way after an odd-sized
// one, and never find the sound data if it comes first: odd sizes always go behind it.
ChunkLayout aiffMetadataLayout(const Metadata& m, uint64_t frontRoom);

// Everything in front of the audio (AIFF: what may go there).
std::vector<uint8_t> riffMetadataChunks(const Metadata& m, const LoudnessSummary* loudness);
std::vector<uint8_t> aiffMetadataChunks(const Metadata& m);

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
