#pragma once
// Byte access and shared judgements for the container length checks (source_length.h).
// Internal to them: each container's walk lives in one of the container_length_*.cpp
// files and answers through the helpers below, so every shortfall is worded alike.
#include "audio_io/source_length.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace sonteva::containers {

// A walk never needs many steps; the cap keeps a damaged file from looping long.
constexpr int kMaxChunks = 4096;

class FileBytes {
public:
    explicit FileBytes(const std::string& path);
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    uint64_t size() const { return size_; }
    // False when [offset, offset + count) is not wholly in the file.
    bool read(uint64_t offset, void* dest, size_t count) const;

private:
    int fd_;
    uint64_t size_ = 0;
};

inline uint64_t little(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline uint64_t big(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

inline uint64_t endian(const uint8_t* p, int bytes, bool bigEndian) {
    return bigEndian ? big(p, bytes) : little(p, bytes);
}

inline bool tagIs(const uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

// The sizes an unfinished recording leaves in place of its length.
inline bool isPlaceholder(uint64_t size, int bytes) {
    const uint64_t ones = bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (bytes * 8)) - 1;
    return size == 0 || size == ones;
}

// An audio chunk whose size is a placeholder: nothing to hold against the file.
inline ContainerLength openEnded() {
    ContainerLength length;
    length.openEnded = true;
    return length;
}

// The file ends at `file.size()` but its structure reaches byte `declaredEnd`.
std::optional<EarlyEnd> endsBefore(const FileBytes& file, uint64_t declaredEnd);

// The file ends where its audio should begin (or, for a stream, with none of it).
std::optional<EarlyEnd> endsBeforeAudio(const FileBytes& file);

// The audio takes `declared` bytes from `start`. `frameBytes` is the size of one frame
// when the encoding has a fixed one (0 otherwise), which states the shortfall in frames.
ContainerLength judgeAudio(const FileBytes& file, uint64_t start, uint64_t declared,
                           uint64_t frameBytes);

// The same for a length the header states in frames (NIST's sample count, AIFF's frame
// count) of a fixed size each, starting at `start`.
ContainerLength judgeFrames(const FileBytes& file, uint64_t start, uint64_t frames,
                            uint64_t frameBytes);

// The walks, each given a file whose first bytes carry its container's mark.
ContainerLength walkRiff(const FileBytes& file, bool rf64);
ContainerLength walkWave64(const FileBytes& file);
ContainerLength walkIff(const FileBytes& file);
ContainerLength walkCaf(const FileBytes& file);
ContainerLength checkAu(const FileBytes& file, bool bigEndian);
ContainerLength checkNist(const FileBytes& file);
ContainerLength walkVoc(const FileBytes& file);
ContainerLength walkMat4(const FileBytes& file);
ContainerLength walkMat5(const FileBytes& file);
ContainerLength checkOgg(const FileBytes& file);
ContainerLength checkFlac(const FileBytes& file);
ContainerLength checkMpeg(const FileBytes& file);
ContainerLength walkIsoMedia(const FileBytes& file);

} // namespace sonteva::containers
