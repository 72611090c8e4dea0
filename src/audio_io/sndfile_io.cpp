#include "audio_io/sndfile_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sonteva {

namespace {
constexpr size_t kBufferBytes = size_t{1} << 20;
// Written data is handed to the disk as it accumulates, so that the final fsync that
// makes the output durable has little left to wait for.
constexpr int64_t kWritebackBytes = int64_t{8} << 20;
} // namespace

SndfileFileIo::SndfileFileIo(int fd, Mode mode) : fd_(fd), mode_(mode) {
    buffer_.reserve(kBufferBytes);
}

SF_VIRTUAL_IO SndfileFileIo::callbacks() {
    return SF_VIRTUAL_IO{
        [](void* u) { return self(u).length(); },
        [](sf_count_t offset, int whence, void* u) { return self(u).seek(offset, whence); },
        [](void* dest, sf_count_t count, void* u) { return self(u).read(dest, count); },
        [](const void* src, sf_count_t count, void* u) { return self(u).write(src, count); },
        [](void* u) -> sf_count_t { return self(u).position_; },
    };
}

sf_count_t SndfileFileIo::length() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return std::max<int64_t>(st.st_size, fileLength_);
}

sf_count_t SndfileFileIo::seek(sf_count_t offset, int whence) {
    int64_t base = 0;
    if (whence == SEEK_CUR) base = position_;
    if (whence == SEEK_END) base = length();
    if (base < 0 || base + offset < 0) return -1;
    position_ = base + offset;
    return position_;
}

sf_count_t SndfileFileIo::read(void* dest, sf_count_t count) {
    if (mode_ == Mode::write && !flush()) return 0;
    char* out = static_cast<char*>(dest);
    sf_count_t done = 0;
    while (done < count) {
        const int64_t end = bufferStart_ + static_cast<int64_t>(buffer_.size());
        if (mode_ == Mode::read && position_ >= bufferStart_ && position_ < end) {
            const int64_t n = std::min<int64_t>(end - position_, count - done);
            std::memcpy(out + done, buffer_.data() + (position_ - bufferStart_), size_t(n));
            done += n;
            position_ += n;
            continue;
        }
        // Large requests bypass the buffer; small ones refill it.
        const bool direct = mode_ == Mode::write || count - done >= sf_count_t(kBufferBytes);
        char* target = direct ? out + done : buffer_.data();
        if (!direct) buffer_.resize(kBufferBytes);
        const size_t want = direct ? size_t(count - done) : kBufferBytes;
        ssize_t n;
        do
            n = ::pread(fd_, target, want, position_);
        while (n < 0 && errno == EINTR);
        if (n < 0 && error_ == 0) error_ = errno;
        if (n <= 0) {
            if (!direct) buffer_.clear();
            break;
        }
        if (direct) {
            done += n;
            position_ += n;
        } else {
            buffer_.resize(size_t(n));
            bufferStart_ = position_;
        }
    }
    return done;
}

sf_count_t SndfileFileIo::write(const void* src, sf_count_t count) {
    if (error_ != 0) return 0;
    if (position_ != bufferStart_ + static_cast<int64_t>(buffer_.size())) {
        if (!flush()) return 0;
        bufferStart_ = position_;
    }
    const char* in = static_cast<const char*>(src);
    buffer_.insert(buffer_.end(), in, in + count);
    position_ += count;
    fileLength_ = std::max(fileLength_, position_);
    if (buffer_.size() >= kBufferBytes && !flush()) return 0;
    return count;
}

bool SndfileFileIo::flush() {
    if (mode_ == Mode::read || buffer_.empty()) return error_ == 0;
    size_t done = 0;
    while (done < buffer_.size() && error_ == 0) {
        const ssize_t n = ::pwrite(fd_, buffer_.data() + done, buffer_.size() - done,
                                   bufferStart_ + static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            error_ = n < 0 ? errno : EIO;
        else
            done += size_t(n);
    }
    if (error_ == 0) startWriteback(bufferStart_, int64_t(buffer_.size()));
    bufferStart_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
    return error_ == 0;
}

void SndfileFileIo::startWriteback(int64_t from, int64_t bytes) {
    flushedSinceSync_ += bytes;
    if (flushedSinceSync_ < kWritebackBytes) return;
    flushedSinceSync_ = 0;
    ::sync_file_range(fd_, 0, from + bytes, SYNC_FILE_RANGE_WRITE);
}

} // namespace sonteva
