#pragma once
// Shared helpers of the audio file tests: temporary folders, test audio written with
// libsndfile directly (independent of the code under test), byte access, child processes.
#include "support/temp_dir.h"

#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sonteva::test {

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t le32(const std::vector<uint8_t>& b, size_t at);
uint64_t le64(const std::vector<uint8_t>& b, size_t at);
uint16_t le16(const std::vector<uint8_t>& b, size_t at);
std::string tagAt(const std::vector<uint8_t>& b, size_t at);

// Writes interleaved integers at 32-bit full scale (q << (32 − bits)) with libsndfile.
void writeInts(const std::string& path, int format, int rate, int channels,
               const std::vector<int32_t>& interleaved);
void writeDoubles(const std::string& path, int format, int rate, int channels,
                  const std::vector<double>& interleaved);

struct SndRead {
    SF_INFO info{};
    std::vector<int32_t> ints; // interleaved, 32-bit full scale
    std::vector<double> doubles;
};
SndRead readWithSndfile(const std::string& path);

// The text of the exception `f` throws, or "no error".
std::string errorOf(const std::function<void()>& f);

// Runs `body` in a forked child and returns the text it produced (its stdout pipe).
std::string runInChild(const std::function<std::string()>& body);

} // namespace sonteva::test
