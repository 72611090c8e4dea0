#pragma once
// Shared helpers of the audio file tests: temporary folders, test audio written with
// libsndfile directly (independent of the code under test), streamed reading, byte access
// (load, save and the little-endian readers), child processes.
#include "audio_io/audio_io.h"
#include "support/metadata_files.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonteva::test {

inline uint16_t le16(const Bytes& b, size_t at) {
    return uint16_t(get(b, at, 2));
}
inline uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(get(b, at, 4));
}
inline std::string tagAt(const std::vector<uint8_t>& b, size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

// Writes raw interleaved integers at 32-bit full scale (q << (32 − bits)) with libsndfile,
// which keeps their top bits; planar doubles go through writeFile (support/test_files.h).
inline void writeInts(const std::string& path, int format, int rate, int channels,
                      const std::vector<int32_t>& interleaved) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw std::runtime_error(std::string("test write: ") + sf_strerror(nullptr));
    sf_writef_int(file, interleaved.data(), sf_count_t(interleaved.size() / size_t(channels)));
    sf_close(file);
}

// Everything the streaming reader delivers, in blocks of `block` frames, or of growing
// sizes (1, 10, 37, …) when `growing`.
inline std::vector<std::vector<double>> readStreamed(const std::string& path, int64_t block,
                                                     bool growing = false) {
    AudioStreamReader reader(path);
    std::vector<std::vector<double>> out(size_t(reader.channels()));
    for (int64_t n = growing ? 1 : block;; n = growing ? n * 3 + 7 : block) {
        const std::vector<std::vector<double>> b = reader.read(n);
        if (b.empty()) return out;
        for (size_t c = 0; c < b.size(); ++c)
            out[c].insert(out[c].end(), b[c].begin(), b[c].end());
    }
}

// The text of the exception `f` throws, or "no error".
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

// Runs `body` in a forked child and returns the text it produced (its stdout pipe).
inline std::string runInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string text;
        try {
            text = body();
        } catch (const std::exception& e) {
            text = std::string("unexpected exception: ") + e.what();
        }
        [[maybe_unused]] ssize_t ignored = ::write(fds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

} // namespace sonteva::test
