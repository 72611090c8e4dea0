#pragma once
// The 64-bit float WAV writer. libsndfile would do, but the layout is fixed byte for byte
// (format tag 3, no extensible block, no fact chunk), and past 4 GiB it becomes RF64.
// The header builders take plain counts so that RF64 layouts can be checked without
// writing gigabytes.
#include "audio_io/part_file.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sonteva {

namespace riff {

constexpr size_t kStreamingHeaderSize = 80;
constexpr size_t kPlainHeaderSize = 44;

// The 80-byte header written when a streamed file opens: "RIFF", both sizes 0, and a
// 28-byte "JUNK" placeholder where RF64's "ds64" chunk can go.
std::array<uint8_t, kStreamingHeaderSize> openingHeader(int channels, double sampleRate);
// The same 80 bytes once `frames` frames are written: RIFF size D + 72 and data size D,
// or the RF64 form ("RF64", "ds64", both sizes 0xFFFFFFFF) when D + 72 passes 0xFFFFFFFF.
// `extra` bytes of metadata chunks between "fmt " and "data" count into the RIFF size;
// the last eight bytes ("data" and its size) then follow them.
std::array<uint8_t, kStreamingHeaderSize> closingHeader(int channels, double sampleRate,
                                                        uint64_t frames, uint64_t extra = 0);
// The header of a file written in one go: 44 bytes while D + 36 (+ extra) < 2^32, else
// the 80-byte RF64 header.
std::vector<uint8_t> wholeFileHeader(int channels, double sampleRate, uint64_t frames,
                                     uint64_t extra = 0);

} // namespace riff

// Writes interleaved little-endian binary64 samples into a PartFile.
class Float64WavWriter {
public:
    // wholeFileFrames >= 0: the final frame count is known and the whole-file header is
    // written now; -1: the streaming header, completed by finish(). `metadataBytes` of
    // room are kept between "fmt " and "data" for metadata chunks, written at the end.
    Float64WavWriter(PartFile& file, int channels, double sampleRate, int64_t wholeFileFrames,
                     uint64_t metadataBytes = 0);

    // Appends frames [first, first + count) of the channel arrays.
    void write(const std::vector<std::vector<double>>& block, size_t first, size_t count);
    // Completes the header of a streamed file (nothing for a whole-file one).
    void finish();
    // Where the room for metadata chunks begins.
    uint64_t metadataOffset() const { return prefix_; }

private:
    void writeHeader(const uint8_t* header, size_t size, bool atStart);

    PartFile& file_;
    int channels_;
    double sampleRate_;
    bool streaming_;
    uint64_t extra_;
    uint64_t prefix_ = 0;
    uint64_t framesWritten_ = 0;
    std::vector<uint8_t> bytes_;
};

} // namespace sonteva
