#pragma once
// libsndfile moves audio through its own 8 KiB buffer, one system call per buffer: some
// twenty thousand reads for a five-minute master. These virtual-I/O adapters give it
// large buffered reads and writes over a file descriptor instead, and record the first
// system error, which libsndfile itself does not always pass on (sf_close reports success
// after a failed final write).
#include <sndfile.h>

#include <cstdint>
#include <vector>

namespace sonteva {

class SndfileFileIo {
public:
    enum class Mode { read, write };
    SndfileFileIo(int fd, Mode mode);
    SndfileFileIo(const SndfileFileIo&) = delete;
    SndfileFileIo& operator=(const SndfileFileIo&) = delete;

    // The callbacks, with `this` as their user data.
    static SF_VIRTUAL_IO callbacks();

    // Writes out what is buffered; false (and error() set) on failure.
    bool flush();
    int error() const { return error_; }
    int fd() const { return fd_; }

private:
    static SndfileFileIo& self(void* user) { return *static_cast<SndfileFileIo*>(user); }
    sf_count_t length();
    sf_count_t seek(sf_count_t offset, int whence);
    sf_count_t read(void* dest, sf_count_t count);
    sf_count_t write(const void* src, sf_count_t count);
    void startWriteback(int64_t from, int64_t bytes);

    int fd_;
    Mode mode_;
    int error_ = 0;
    int64_t position_ = 0;   // libsndfile's idea of the file position
    int64_t fileLength_ = 0; // write mode: the end of everything written
    // Read mode: bytes [bufferStart_, bufferStart_ + buffer_.size()) of the file.
    // Write mode: pending bytes to be written at bufferStart_.
    std::vector<char> buffer_;
    int64_t bufferStart_ = 0;
    int64_t flushedSinceSync_ = 0;
};

} // namespace sonteva
