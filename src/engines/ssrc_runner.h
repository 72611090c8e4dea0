#pragma once
// "SSRC Shibata" conversion and the noise-shaping dither come from the external command-
// line converter ssrc_hp, which only processes whole files. The runner bridges in-memory
// audio to it: a temporary 32-bit WAV in, a fixed argument list, a 24- or 16-bit WAV back,
// and the temporary work directory removed after every call.
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonteva {

using SignalChannels = std::vector<std::vector<double>>;

class SSRCRunnerError : public std::runtime_error {
public:
    enum class Kind { conversionFailed, binaryNotFound, badOutput, timedOut };
    // what(): "SSRC failed: <message>", "SSRC binary (ssrc_hp) not found",
    // "SSRC produced unreadable output", or the time-out text, which is also "SSRC failed: "
    // + message ("ssrc_hp did not finish within N s and was stopped").
    SSRCRunnerError(Kind kind, const std::string& message = {});
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

namespace SSRCRunner {

// Dither name -> the executable's dither type: "Noise Shaping Low" 0, "Medium" 2, "High" 6.
const std::map<std::string, int>& shaperIDs();

// The executable: the resource directory's "ssrc_hp" first, then $SONTEVA_SSRC (a path),
// then "ssrc_hp" on PATH; accepted only when it is an executable regular file.
std::optional<std::string> binaryURL();

// How long one run may take before the child is killed and the call fails (convert throws
// Kind::timedOut, dither16 yields nothing): 60 s plus ten times the audio's duration
// (frames / rate), rounded up to whole seconds; $SONTEVA_SSRC_TIME_LIMIT (seconds) or the
// value set for tests replaces the rule.
double timeLimitSeconds(int64_t frames, int64_t rate);
// Replaces that limit for every later call, process-wide; 0 restores the rule. For tests.
void setTimeLimitForTesting(double seconds);

// Converts whole channels from fsIn to fsOut. Equal rates or no channels return the input
// untouched (a missing executable is still reported first). Throws SSRCRunnerError, or an
// AudioError with the platform's text for a failed directory, file or process operation.
SignalChannels convert(const SignalChannels& channels, int64_t fsIn, int64_t fsOut);

// Requantises whole channels (already at rate fs) to 16 bits with the given noise shaper.
// Nothing when anything fails, including a shaper the executable does not have for fs;
// `why` (when given) then receives the reason in words.
std::optional<SignalChannels> dither16(const SignalChannels& channels, int64_t fs, int shaperID,
                                       std::string* why = nullptr);

// The temporary files: a canonical 44-byte RIFF header and interleaved signed 32-bit
// samples (x * 2147483647.0, clamped, rounded half away from zero).
void writeInt32WAV(const SignalChannels& channels, int64_t sampleRate, const std::string& path);
// 24-bit reads scale by 1/8388607, 16-bit by 1/32768. The 24-bit reader throws
// SSRCRunnerError(badOutput) (or the platform's text for a read error); the 16-bit one
// returns nothing on any failure.
SignalChannels readInt24WAV(const std::string& path, int expectedChannels);
std::optional<SignalChannels> readInt16WAV(const std::string& path, int expectedChannels);

} // namespace SSRCRunner

} // namespace sonteva
