#include "engines/ssrc_runner.h"

#include "audio_io/audio_error.h"
#include "audio_io/interrupt_cleanup.h"
#include "audio_io/stop_request.h"
#include "dsp/resource_dir.h"
#include "engines/child_process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace sonteva {

namespace {

std::string describe(SSRCRunnerError::Kind kind, const std::string& message) {
    switch (kind) {
    case SSRCRunnerError::Kind::binaryNotFound:
        return "SSRC binary (ssrc_hp) not found";
    case SSRCRunnerError::Kind::badOutput:
        return "SSRC produced unreadable output" + (message.empty() ? "" : " (" + message + ")");
    case SSRCRunnerError::Kind::wrongOutput:
        return message;
    case SSRCRunnerError::Kind::conversionFailed:
    case SSRCRunnerError::Kind::timedOut:
        break;
    }
    return "SSRC failed: " + message;
}

} // namespace

SSRCRunnerError::SSRCRunnerError(Kind kind, const std::string& message)
    : std::runtime_error(describe(kind, message)), kind_(kind) {}

namespace SSRCRunner {

namespace {

namespace fs = std::filesystem;
using Kind = SSRCRunnerError::Kind;

std::atomic<double> timeLimitOverride{0.0};

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> findOnPath() {
    const char* path = std::getenv("PATH");
    if (!path) return std::nullopt;
    const std::string dirs = path;
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/ssrc_hp";
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

std::string makeUUID() {
    std::random_device device;
    uint8_t b[16];
    for (size_t i = 0; i < 16; i += 4) {
        const uint32_t r = device();
        for (size_t k = 0; k < 4; ++k)
            b[i + k] = static_cast<uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40); // version 4: random
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

// One call's private folder in the temporary directory; it goes, with everything the
// converter left in it, when the call ends by any path.
class WorkDir {
public:
    explicit WorkDir(const std::string& prefix) {
        const char* tmp = std::getenv("TMPDIR");
        path_ = fs::path(tmp && *tmp ? tmp : "/tmp") / (prefix + makeUUID());
        std::error_code ec;
        CleanupHold hold; // an interrupt removes it, with the converter's copy of the audio
        fs::create_directories(path_, ec);
        if (!ec) cleanup_ = hold.path(path_.string());
        if (ec) throw AudioError("Cannot create " + path_.string() + ": " + ec.message());
    }
    ~WorkDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    fs::path path_;
    CleanupEntry cleanup_;
};

bool isValidUTF8(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        size_t length = 1;
        uint32_t point = c;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2, point = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            length = 3, point = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            length = 4, point = c & 0x07;
        else if (c >= 0x80)
            return false; // stray continuation byte or invalid lead
        if (length > n - i) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            point = point << 6 | (s[i + k] & 0x3F);
        }
        const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
        if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::string failureMessage(const ChildOutcome& outcome) {
    std::string text = outcome.standardError;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    // An empty or undecodable complaint says nothing to the user; the status at least
    // tells one failure from another.
    if (text.empty() || !isValidUTF8(text)) return "exit " + std::to_string(outcome.status);
    return text;
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

size_t frameCount(const SignalChannels& channels) {
    return channels.empty() ? 0 : channels[0].size();
}

std::vector<std::string> arguments(const WorkDir& dir, std::vector<std::string> options) {
    options.insert(options.end(), {"--quiet", "--tmpfile", dir.file("ssrc.tmp"), dir.file("in.wav"),
                                   dir.file("out.wav")});
    return options;
}

// The real converter, asked for a shaper it lacks at this rate, says so, writes plain
// truncated output and still exits 0; that output must never pass for shaped dither.
bool reportsMissingShaper(const std::string& standardError, int shaperID) {
    const std::string notice = "Noise shaper " + std::to_string(shaperID) + " is not available";
    return standardError.find(notice) != std::string::npos;
}

std::string str(int64_t v) {
    return std::to_string(v);
}

std::string count(int64_t n, const char* noun) {
    return str(n) + " " + noun + (n == 1 ? "" : "s");
}

// round(n·fsOut/fsIn), halves away from zero, in integers.
int64_t expectedFrames(int64_t n, int64_t fsIn, int64_t fsOut) {
    const auto twice = static_cast<__int128>(n) * fsOut * 2 + fsIn;
    return static_cast<int64_t>(twice / (static_cast<__int128>(fsIn) * 2));
}

// Throws unless the converter returned the channels, rate and length it was asked for.
// Its figures and ours go into the reason, so that the user can tell a short file from
// a doubled or a mislabelled one.
void checkShape(const ConverterOutput& out, const SignalChannels& in, int64_t fsIn, int64_t fsOut) {
    const auto wanted = static_cast<int>(in.size());
    if (out.channels != wanted)
        throw SSRCRunnerError(Kind::wrongOutput, "SSRC returned " + count(out.channels, "channel") +
                                                     "; " + str(wanted) + " were expected");
    const auto n = static_cast<int64_t>(frameCount(in));
    const auto frames = static_cast<int64_t>(frameCount(out.samples));
    const int64_t expected = expectedFrames(n, fsIn, fsOut);
    if (out.sampleRate != fsOut || frames < expected || frames > expected + kTailFrames)
        throw SSRCRunnerError(
            Kind::wrongOutput,
            "SSRC returned " + count(frames, "frame") + " at " + str(out.sampleRate) + " Hz; " +
                count(expected, "frame") + " at " + str(fsOut) + " Hz were expected" +
                (fsIn == fsOut ? "" : " for " + count(n, "frame") + " at " + str(fsIn) + " Hz"));
}

// Runs the converter and reads what it wrote; nothing when it wrote nothing readable.
// Throws for a failed run, a time-out or a platform error.
std::optional<ConverterOutput> run(const std::string& executable, const WorkDir& dir,
                                   std::vector<std::string> options, double limit,
                                   const std::stop_token& stop, int shaperID = -1) {
    const ChildOutcome outcome = runChild(executable, arguments(dir, options), limit, stop);
    switch (outcome.end) {
    case ChildOutcome::End::stopped:
        throw StopRequested();
    case ChildOutcome::End::timedOut:
        throw SSRCRunnerError(Kind::timedOut, "ssrc_hp did not finish within " +
                                                  formatSeconds(limit) + " s and was stopped");
    case ChildOutcome::End::signalled:
        throw SSRCRunnerError(Kind::conversionFailed,
                              "terminated by signal " + std::to_string(outcome.status));
    case ChildOutcome::End::exited:
        if (outcome.status != 0)
            throw SSRCRunnerError(Kind::conversionFailed, failureMessage(outcome));
        break;
    }
    if (shaperID >= 0 && reportsMissingShaper(outcome.standardError, shaperID))
        throw SSRCRunnerError(Kind::conversionFailed, "ssrc_hp has no noise shaper " +
                                                          std::to_string(shaperID) + " at " +
                                                          options.at(1) + " Hz");
    return readConverterOutput(dir.file("out.wav"));
}

} // namespace

const std::map<std::string, int>& shaperIDs() {
    static const std::map<std::string, int> table = {
        {"Noise Shaping Low", 0}, {"Noise Shaping Medium", 2}, {"Noise Shaping High", 6}};
    return table;
}

std::optional<std::string> binaryURL() {
    if (auto bundled = resourcePath("ssrc_hp", ""); bundled && isExecutableFile(*bundled))
        return bundled;
    if (const char* chosen = std::getenv("SONTEVA_SSRC");
        chosen && *chosen && isExecutableFile(chosen))
        return std::string(chosen);
    return findOnPath();
}

double timeLimitSeconds(int64_t frames, int64_t rate) {
    if (const double fixed = timeLimitOverride.load(); fixed > 0) return fixed;
    if (const char* chosen = std::getenv("SONTEVA_SSRC_TIME_LIMIT"); chosen && *chosen) {
        char* end = nullptr;
        const double seconds = std::strtod(chosen, &end);
        if (*end == '\0' && seconds > 0 && std::isfinite(seconds)) return seconds;
    }
    const double duration = rate > 0 ? static_cast<double>(frames) / static_cast<double>(rate) : 0;
    return std::ceil(60.0 + 10.0 * duration);
}

void setTimeLimitForTesting(double seconds) {
    timeLimitOverride.store(seconds > 0 ? seconds : 0.0);
}

SignalChannels convert(const SignalChannels& channels, int64_t fsIn, int64_t fsOut,
                       int64_t* clipped, std::stop_token stop) {
    const std::optional<std::string> executable = binaryURL();
    if (!executable) throw SSRCRunnerError(Kind::binaryNotFound);
    if (clipped) *clipped = 0;
    if (channels.empty() || fsIn == fsOut) return channels;
    if (fsIn <= 0 || fsOut <= 0)
        throw SSRCRunnerError(Kind::conversionFailed,
                              "no conversion from " + str(fsIn) + " Hz to " + str(fsOut) + " Hz");

    const WorkDir dir("sonteva-ssrc-");
    const int64_t clamped = writeInt32WAV(channels, fsIn, dir.file("in.wav"));
    const double limit = timeLimitSeconds(static_cast<int64_t>(frameCount(channels)), fsIn);
    std::optional<ConverterOutput> out =
        run(*executable, dir, {"--rate", std::to_string(fsOut), "--bits", "24"}, limit, stop);
    if (!out) throw SSRCRunnerError(Kind::badOutput);
    if (out->bits != 24)
        throw SSRCRunnerError(Kind::badOutput, str(out->bits) + "-bit samples where 24-bit "
                                                                "samples were expected");
    checkShape(*out, channels, fsIn, fsOut);
    if (clipped) *clipped = clamped;
    return std::move(out->samples);
}

std::optional<SignalChannels> dither16(const SignalChannels& channels, int64_t fs, int shaperID,
                                       std::string* why, std::stop_token stop) {
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    std::optional<ConverterOutput> out;
    try {
        const std::optional<std::string> executable = binaryURL();
        if (!executable) reason = "ssrc_hp was not found";
        if (!executable || channels.empty() || fs <= 0) return std::nullopt;
        const WorkDir dir("sonteva-dither-");
        writeInt32WAV(channels, fs, dir.file("in.wav"));
        out = run(
            *executable, dir,
            {"--rate", std::to_string(fs), "--bits", "16", "--dither", std::to_string(shaperID)},
            timeLimitSeconds(static_cast<int64_t>(frameCount(channels)), fs), stop, shaperID);
    } catch (const StopRequested&) {
        throw; // not a failure to fall back from
    } catch (const std::exception& e) {
        reason = e.what();
        return std::nullopt; // the caller falls back to TPDF and says so
    }
    if (!out || out->bits != 16) {
        reason = out ? "ssrc_hp returned " + str(out->bits) + "-bit samples for 16-bit output"
                     : "ssrc_hp produced unreadable output";
        return std::nullopt;
    }
    checkShape(*out, channels, fs, fs); // output of the wrong shape fails the job
    for (std::vector<double>& channel : out->samples)
        channel.resize(frameCount(channels)); // without the converter's tail
    return std::move(out->samples);
}

} // namespace SSRCRunner

} // namespace sonteva
