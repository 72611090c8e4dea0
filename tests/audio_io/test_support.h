#pragma once
// Shared helpers of the audio file tests: temporary folders, test audio written with
// libsndfile directly (independent of the code under test), byte access (load, save and
// the little-endian readers), child processes.
#include "support/metadata_files.h"
#include "support/temp_dir.h"

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace sonteva::test {

inline uint16_t le16(const Bytes& b, size_t at) {
    return uint16_t(get(b, at, 2));
}
inline uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(get(b, at, 4));
}
inline uint64_t le64(const Bytes& b, size_t at) {
    return get(b, at, 8);
}
inline std::string tagAt(const std::vector<uint8_t>& b, size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

// Writes interleaved samples with libsndfile: integers at 32-bit full scale
// (q << (32 − bits)), or doubles.
template <typename T>
void writeInterleaved(const std::string& path, int format, int rate, int channels,
                      const std::vector<T>& interleaved) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw std::runtime_error(std::string("test write: ") + sf_strerror(nullptr));
    const auto frames = static_cast<sf_count_t>(interleaved.size() / channels);
    if constexpr (std::is_same_v<T, double>)
        sf_writef_double(file, interleaved.data(), frames);
    else
        sf_writef_int(file, interleaved.data(), frames);
    sf_close(file);
}
inline void writeInts(const std::string& path, int format, int rate, int channels,
                      const std::vector<int32_t>& interleaved) {
    writeInterleaved(path, format, rate, channels, interleaved);
}
inline void writeDoubles(const std::string& path, int format, int rate, int channels,
                         const std::vector<double>& interleaved) {
    writeInterleaved(path, format, rate, channels, interleaved);
}

struct SndRead {
    SF_INFO info{};
    std::vector<int32_t> ints; // interleaved, 32-bit full scale
    std::vector<double> doubles;
};
inline SndRead readWithSndfile(const std::string& path) {
    SndRead r;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &r.info);
    if (!file) throw std::runtime_error(std::string("test read: ") + sf_strerror(nullptr));
    const size_t n = static_cast<size_t>(r.info.frames * r.info.channels);
    r.ints.resize(n);
    r.doubles.resize(n);
    sf_readf_int(file, r.ints.data(), r.info.frames);
    sf_seek(file, 0, SEEK_SET);
    sf_readf_double(file, r.doubles.data(), r.info.frames);
    sf_close(file);
    return r;
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
