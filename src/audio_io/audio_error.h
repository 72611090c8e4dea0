#pragma once
// Errors of the audio file layer. Every failure carries a description meant for
// the user: it is what a failed job shows in its row and on its command-line line.
#include <stdexcept>
#include <string>

namespace sonteva {

// A failure reported by a decoder, an encoder or the file system, with its own text.
class AudioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The system's own errors, in the "AudioIO" domain with numeric codes:
//   1 "Could not create PCM buffer"     2 "Invalid processing format"
//   3 "Could not create write buffer"   4 "No channels to write"
//  10 "Cannot open output for writing"
// what() is the code's description, followed by ": " and the detail when one is given.
class AudioIOError : public AudioError {
public:
    static constexpr const char* domain = "AudioIO";
    explicit AudioIOError(int code, const std::string& detail = {});
    int code() const noexcept { return code_; }
    // The fixed description of a code ("" for an unknown code).
    static std::string describe(int code);

private:
    int code_;
};

} // namespace sonteva
