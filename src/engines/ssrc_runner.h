#pragma once
// "SSRC Shibata" conversion and the noise-shaping dither come from the external command-
// line converter ssrc_hp, which only processes whole files. The runner bridges in-memory
// audio to it: a temporary 32-bit WAV in, a fixed argument list, a 24- or 16-bit WAV back,
// and the temporary work directory removed after every call.
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace sonteva {

using SignalChannels = std::vector<std::vector<double>>;

class SSRCRunnerError : public std::runtime_error {
public:
    enum class Kind { conversionFailed, binaryNotFound, badOutput, timedOut, wrongOutput };
    // what(): "SSRC failed: <message>", "SSRC binary (ssrc_hp) not found",
    // "SSRC produced unreadable output" (followed by " (<message>)" when there is one),
    // the time-out text, which is also "SSRC failed: " + message ("ssrc_hp did not finish
    // within N s and was stopped"), or for wrongOutput the message itself, which carries
    // the figures ("SSRC returned 44098 frames at 44100 Hz; 88200 frames at 88200 Hz were
    // expected for 96000 frames at 96000 Hz").
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

// The converter's output is checked before it is used: its word length, channel count,
// rate and length must be those asked for. The length is round(n·fsOut/fsIn) for n input
// frames, or up to kTailFrames more: the converter's own tail.
inline constexpr int64_t kTailFrames = 2;

// Converts whole channels from fsIn to fsOut. Equal rates or no channels return the input
// untouched (a missing executable is still reported first). The result holds exactly the
// converter's 24-bit integers, scaled by 1/8388608, tail included. `clipped`, when given,
// receives the number of samples beyond full scale that had to be clamped for the
// converter's integer input. Throws SSRCRunnerError, or an AudioError with the platform's
// text for a failed directory, file or process operation.
// A request on `stop` kills the converter and throws StopRequested (both functions).
SignalChannels convert(const SignalChannels& channels, int64_t fsIn, int64_t fsOut,
                       int64_t* clipped = nullptr, std::stop_token stop = {});

// Requantises whole channels (already at rate fs) to 16 bits with the given noise shaper:
// the converter's 16-bit integers scaled by 1/32768, cut to the input's length. Nothing
// when the converter cannot do it (missing, failing, without that shaper at fs, or with
// output that cannot be read); a converter that claims success with output of the wrong
// rate, channel count or length throws SSRCRunnerError(wrongOutput) instead, since
// falling back would hide a fault. `why` (when given) receives the reason it yields nothing.
std::optional<SignalChannels> dither16(const SignalChannels& channels, int64_t fs, int shaperID,
                                       std::string* why = nullptr, std::stop_token stop = {});

// The temporary files: a canonical 44-byte RIFF header and interleaved signed 32-bit
// samples (x * 2147483647.0, clamped, rounded half away from zero). Returns the number of
// samples the clamp changed.
int64_t writeInt32WAV(const SignalChannels& channels, int64_t sampleRate, const std::string& path);

// A PCM WAV as the converter wrote it: its header's figures and, for 16 and 24 bits, its
// integers scaled by 1/32768 or 1/8388608, so that they come back unchanged when stored at
// that word length.
struct ConverterOutput {
    int channels = 0;
    int bits = 0;
    int64_t sampleRate = 0;
    SignalChannels samples; // empty for any other word length
};
// Nothing when the file is not a WAV with a "fmt " chunk before its "data" chunk, or has no
// channels; a failed read throws AudioError with the platform's text.
std::optional<ConverterOutput> readConverterOutput(const std::string& path);

// The two readers for one word length and channel count. The 24-bit one throws
// SSRCRunnerError(badOutput) (or the platform's text for a read error); the 16-bit one
// returns nothing on any failure.
SignalChannels readInt24WAV(const std::string& path, int expectedChannels);
std::optional<SignalChannels> readInt16WAV(const std::string& path, int expectedChannels);

} // namespace SSRCRunner

} // namespace sonteva
