#include "test_support.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sonteva::test {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16;
}
uint64_t le64(const std::vector<uint8_t>& b, size_t at) {
    return le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32;
}
std::string tagAt(const std::vector<uint8_t>& b, size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

namespace {
template <typename T, typename Write>
void writeWith(Write write, const std::string& path, int format, int rate, int channels,
               const std::vector<T>& interleaved) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw std::runtime_error(std::string("test write: ") + sf_strerror(nullptr));
    write(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(file);
}
} // namespace

void writeInts(const std::string& path, int format, int rate, int channels,
               const std::vector<int32_t>& interleaved) {
    writeWith(sf_writef_int, path, format, rate, channels, interleaved);
}

void writeDoubles(const std::string& path, int format, int rate, int channels,
                  const std::vector<double>& interleaved) {
    writeWith(sf_writef_double, path, format, rate, channels, interleaved);
}

SndRead readWithSndfile(const std::string& path) {
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

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

std::string runInChild(const std::function<std::string()>& body) {
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
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return text;
}

} // namespace sonteva::test
