#pragma once
// The top-level structure of RIFF/RF64/BW64 and AIFF/AIFC files (chunks) and of FLAC
// files (metadata blocks), read over a file descriptor, and the byte order helpers of
// both. Shared by the metadata reader and by the writers, which revisit their own output.
#include <cstdint>
#include <string>
#include <vector>

namespace sonteva::chunks {

enum class Layout { unknown, riff, aiff, flac };

struct ChunkRef {
    std::string id;        // four characters
    uint64_t offset = 0;   // of the chunk header
    uint64_t size = 0;     // of the body, as declared (RF64 data: from ds64)
    bool complete = false; // the whole body lies within the file
};

struct FlacBlock {
    int type = 0;
    uint64_t offset = 0; // of the block header
    std::vector<uint8_t> body;
};

// The file's layout from its first twelve bytes.
Layout layoutOf(int fd);
// Top-level chunks in file order; stops at the first header that does not fit the file.
std::vector<ChunkRef> walk(int fd, Layout layout);
// FLAC metadata blocks in order (an ID3v2 tag in front of "fLaC" is skipped); `audioStart`
// receives the offset of the first frame. Empty when the file is not FLAC.
std::vector<FlacBlock> flacBlocks(int fd, uint64_t& audioStart);

bool readAt(int fd, uint64_t offset, void* dest, size_t count);
// Throws AudioError with the platform's text when the bytes cannot be written.
void writeAt(int fd, uint64_t offset, const void* data, size_t count);

uint64_t getLE(const uint8_t* p, int bytes);
uint64_t getBE(const uint8_t* p, int bytes);
void putLE(std::vector<uint8_t>& out, uint64_t v, int bytes);
void putBE(std::vector<uint8_t>& out, uint64_t v, int bytes);
void putText(std::vector<uint8_t>& out, const std::string& text);

} // namespace sonteva::chunks
