#pragma once
// A hidden temporary file in the destination folder (".<name>.XXXXXX.part"), renamed
// over the target once the output is complete, so that an output appears whole or not
// at all and an existing file of the target's name survives any failure. An interrupt
// removes the temporary file too; one left by a killed process is found by its lock.
#include "audio_io/interrupt_cleanup.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sonteva {

class PartFile {
public:
    // Throws AudioIOError 10 ("Cannot open output for writing") with the target and the
    // reason when the folder is missing or not writable.
    explicit PartFile(const std::string& target);
    // Removes the temporary file unless commit() succeeded.
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    int fd() const { return fd_; }
    const std::string& tempPath() const { return temp_; }

    // Appends bytes at the current position / overwrites bytes at an offset; throw
    // AudioError with the platform's text ("No space left on device", …).
    void append(const void* data, size_t size);
    void writeAt(uint64_t offset, const void* data, size_t size);

    // Flushes to disk, closes and renames over the target. On failure the temporary file
    // is removed and AudioError carries the platform's text.
    void commit();
    // Closes and removes the temporary file (nothing once committed).
    void discard() noexcept;

private:
    [[noreturn]] void fail(int error);

    std::string target_;
    std::string temp_;
    std::string tempName_; // within the folder
    int folderFd_ = -1;
    int fd_ = -1;
    bool committed_ = false;
    CleanupEntry cleanup_; // the temporary file, for an interrupt
};

// Removes the temporary files of `target` that no writer holds any more: those of a process
// killed outright (SIGKILL, a lost machine), which had no chance to remove them. A writer
// holds a lock on its temporary file until it is renamed or removed, so one whose lock can
// be taken is abandoned. Where the file system has no locks, nothing is removed; a lost
// machine's locks on a network file system last until its server lets them go. Returns how
// many were removed.
int removeAbandonedParts(const std::string& target);

// The mode a newly created file gets: 0666 without the process's umask.
unsigned newFileMode();

} // namespace sonteva
