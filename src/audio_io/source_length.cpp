#include "audio_io/source_length.h"

#include "audio_io/container_bytes.h"
#include "audio_io/decoded_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace sonteva {

namespace containers {

FileBytes::FileBytes(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) size_ = static_cast<uint64_t>(st.st_size);
}

FileBytes::~FileBytes() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileBytes::read(uint64_t offset, void* dest, size_t count) const {
    if (fd_ < 0 || offset > size_ || count > size_ - offset) return false;
    return ::pread(fd_, dest, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
}

std::optional<EarlyEnd> endsBefore(const FileBytes& file, uint64_t declaredEnd) {
    if (declaredEnd <= file.size()) return std::nullopt;
    // A declared end beyond any real file is a damaged size, not a partial copy; it is
    // still reported, but capped so that the figure stays readable.
    const auto declared = static_cast<int64_t>(std::min<uint64_t>(declaredEnd, INT64_MAX));
    return EarlyEnd{EarlyEnd::Unit::bytes, static_cast<int64_t>(file.size()), declared, {}};
}

std::optional<EarlyEnd> endsBeforeAudio(const FileBytes& file) {
    return EarlyEnd{EarlyEnd::Unit::bytes, static_cast<int64_t>(file.size()), -1,
                    "the file ends before its audio data"};
}

ContainerLength judgeAudio(const FileBytes& file, uint64_t start, uint64_t declared,
                           uint64_t frameBytes) {
    const uint64_t held = file.size() > start ? file.size() - start : 0;
    if (frameBytes == 0) {
        if (declared <= held) return std::nullopt;
        return endsBefore(file, start > UINT64_MAX - declared ? UINT64_MAX : start + declared);
    }
    return judgeFrames(file, start, declared / frameBytes, frameBytes);
}

ContainerLength judgeFrames(const FileBytes& file, uint64_t start, uint64_t frames,
                            uint64_t frameBytes) {
    if (frameBytes == 0 || frames > INT64_MAX) return std::nullopt;
    ContainerLength length;
    length.frames = static_cast<int64_t>(frames);
    // A partial frame past the last whole one is not audio that could be lost.
    const uint64_t held = file.size() > start ? (file.size() - start) / frameBytes : 0;
    if (held >= frames) return length;
    if (start > file.size()) {
        length.early = endsBefore(file, start);
    } else {
        length.early =
            EarlyEnd{EarlyEnd::Unit::frames, static_cast<int64_t>(held), length.frames, {}};
    }
    return length;
}

namespace {

const uint8_t kWave64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

// The file starts with `magic`, or, when it ends inside it, with as much of it as it holds
// (four bytes at least: a file cut inside its own mark is still told by it).
bool startsWith(const uint8_t* head, size_t n, const void* magic, size_t length) {
    return n >= std::min<size_t>(length, 4) && std::memcmp(head, magic, std::min(n, length)) == 0;
}

// A MATLAB v4 file has no mark of its own; the one libsndfile reads starts with a 1×1
// matrix named "samplerate".
bool looksLikeMat4(const uint8_t* head, size_t n) {
    if (n < 24 || std::memcmp(head + 20, "samplerate", std::min<size_t>(n - 20, 11)) != 0)
        return false;
    return little(head + 16, 4) == 11 || big(head + 16, 4) == 11;
}

} // namespace

} // namespace containers

ContainerLength inspectContainer(const std::string& path) {
    using namespace containers;
    const FileBytes file(path);
    uint8_t head[128] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(file.size(), sizeof head));
    if (n < 4 || !file.read(0, head, n)) return std::nullopt;
    const auto has = [&](size_t at, const char* tag) {
        return n < at + 4 || std::memcmp(head + at, tag, 4) == 0;
    };
    if (tagIs(head, "RIFF") && has(8, "WAVE")) return walkRiff(file, false);
    if ((tagIs(head, "RF64") || tagIs(head, "BW64")) && has(8, "WAVE")) return walkRiff(file, true);
    if (startsWith(head, n, kWave64Riff, 16)) return walkWave64(file);
    if (tagIs(head, "FORM") &&
        (has(8, "AIFF") || has(8, "AIFC") || has(8, "8SVX") || has(8, "16SV")))
        return walkIff(file);
    if (tagIs(head, "caff")) return walkCaf(file);
    if (tagIs(head, ".snd")) return checkAu(file, true);
    if (tagIs(head, "dns.")) return checkAu(file, false);
    if (startsWith(head, n, "NIST_1A\n", 8)) return checkNist(file);
    if (startsWith(head, n, "Creative Voice File\x1A", 20)) return walkVoc(file);
    if (startsWith(head, n, "MATLAB 5.0 MAT-file", 19)) return walkMat5(file);
    if (looksLikeMat4(head, n)) return walkMat4(file);
    if (startsWith(head, n, "fLaC", 4)) return checkFlac(file);
    if (tagIs(head, "OggS")) return checkOgg(file);
    if (n >= 8 && (tagIs(head + 4, "ftyp") || tagIs(head + 4, "moov") || tagIs(head + 4, "mdat")))
        return walkIsoMedia(file);
    if (startsWith(head, n, "ID3", 3) || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0))
        return checkMpeg(file);
    return std::nullopt;
}

std::optional<EarlyEnd> decodedEarlyEnd(DecodedSource& source) {
    const int64_t declared = source.frames();
    const int64_t held = source.heldFrames();
    if (held >= declared) return std::nullopt;
    return EarlyEnd{EarlyEnd::Unit::frames, std::max<int64_t>(held, 0), declared, {}};
}

std::string describeEarlyEnd(const EarlyEnd& end, const std::string& reason) {
    const bool frames = end.unit == EarlyEnd::Unit::frames;
    std::string text = std::string("Source ended early at ") + (frames ? "frame " : "byte ") +
                       std::to_string(end.held);
    if (end.declared >= 0) text += " of " + std::to_string(end.declared);
    if (!end.missing.empty()) text += ": " + end.missing;
    text += " \u2014 the file is truncated or damaged";
    if (!reason.empty()) text += " (" + reason + ")";
    return text;
}

} // namespace sonteva
