#include "audio_io/audio_error.h"

namespace sonteva {

namespace {
std::string composeMessage(int code, const std::string& detail) {
    std::string text = AudioIOError::describe(code);
    if (detail.empty()) return text;
    return text.empty() ? detail : text + ": " + detail;
}
} // namespace

AudioIOError::AudioIOError(int code, const std::string& detail)
    : AudioError(composeMessage(code, detail)), code_(code) {}

std::string AudioIOError::describe(int code) {
    switch (code) {
    case 1:
        return "Could not create PCM buffer";
    case 2:
        return "Invalid processing format";
    case 3:
        return "Could not create write buffer";
    case 4:
        return "No channels to write";
    case 10:
        return "Cannot open output for writing";
    default:
        return {};
    }
}

} // namespace sonteva
