// A stand-in for the ssrc_hp converter: its command line, linear interpolation for the rate,
// first-order error feedback for the shapers, and switches (FAKE_SSRC_MODE) for the ways
// the converter or its output go wrong. Like the converter it reads its 32-bit input at
// full scale 2147483647, writes at 2^(bits-1) - 1 (8388607, 32767), clamps to the integer
// range and adds a tail of two frames to round(n·out/in). FAKE_SSRC_LOG, when set, names a
// file that receives the arguments (or, when hanging, the process id); FAKE_SSRC_KEEP names
// a folder that receives a copy of each output as out-<bits>.wav. FAKE_SSRC_GRANDCHILD
// starts a process that sleeps holding the converter's standard output and error, within
// its process group ("group") or outside it ("escape"), and logs "grandchild <pid> of <pid>".
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Channels = std::vector<std::vector<double>>;

struct Options {
    long rate = 0, bits = 24, shaper = -1;
    std::string in, out;
};

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::exit(255);
}

Options parse(int argc, char** argv) {
    Options o;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--quiet") continue;
        if (i + 1 >= argc) fail("missing value for " + option);
        const char* value = argv[++i];
        long* number = option == "--rate"     ? &o.rate
                       : option == "--bits"   ? &o.bits
                       : option == "--dither" ? &o.shaper
                                              : nullptr;
        if (number)
            *number = std::atol(value);
        else if (option != "--tmpfile" || !std::ofstream(value))
            fail("bad option " + option);
    }
    if (argc - i != 2 || o.rate <= 0 || (o.bits != 16 && o.bits != 24))
        fail("usage: ssrc_hp [--rate N] [--bits 16|24] [--dither N] [--quiet] "
             "[--tmpfile PATH] IN OUT");
    o.in = argv[i];
    o.out = argv[i + 1];
    return o;
}

uint32_t get(const std::string& b, size_t at, int size) {
    uint32_t v = 0;
    for (int k = size - 1; k >= 0; --k)
        v = v << 8 | static_cast<uint8_t>(b[at + k]);
    return v;
}

void put(std::string& b, uint32_t v, int size) {
    for (int k = 0; k < size; ++k)
        b += static_cast<char>(v >> (8 * k));
}

// Only the plain 32-bit integer PCM layout, as the real converter: no float, no extensible.
Channels readInput(const std::string& path, long& rate) {
    std::ifstream file(path, std::ios::binary);
    const std::string b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (b.size() < 44 || b.compare(0, 4, "RIFF") || b.compare(8, 8, "WAVEfmt ") ||
        b.compare(36, 4, "data") || get(b, 22, 2) == 0)
        fail("cannot read " + path);
    if (get(b, 20, 2) != 1 || get(b, 34, 2) != 32) fail("unsupported wav format");
    const size_t channels = get(b, 22, 2), frames = (b.size() - 44) / (4 * channels);
    rate = get(b, 24, 4);
    Channels x(channels, std::vector<double>(frames));
    for (size_t i = 0; i < frames * channels; ++i)
        x[i % channels][i / channels] = static_cast<int32_t>(get(b, 44 + i * 4, 4)) / 2147483647.0;
    return x;
}

Channels resample(const Channels& x, long in, long out, long extra) {
    Channels y;
    for (const std::vector<double>& s : x) {
        const long n = static_cast<long>(s.size());
        std::vector<double>& r = y.emplace_back(std::lround(double(n) * out / in) + extra);
        for (size_t j = 0; j < r.size(); ++j) {
            const double t = double(j) * in / out;
            const long i = static_cast<long>(t);
            const double a = i < n ? s[i] : 0.0, b = i + 1 < n ? s[i + 1] : 0.0;
            r[j] = a + (b - a) * (t - double(i));
        }
    }
    return y;
}

bool shaperExists(long shaper, long rate) {
    const bool common = rate == 44100 || rate == 48000;
    if (shaper == 6) return common;
    return (shaper == 0 || shaper == 2) &&
           (common || rate == 88200 || rate == 96000 || rate == 192000);
}

// Wrong output, each with exit status 0: data doubled or cut in half (the header still
// counting all of it), a rate labelled wrongly, the other word length.
void writeOutput(const Options& o, const Channels& y, const std::string& mode, long labelled) {
    const long bits = mode == "otherbits" ? 40 - o.bits : o.bits;
    const uint32_t channels = static_cast<uint32_t>(y.size()), width = bits / 8;
    const double full = bits == 24 ? 8388607.0 : 32767.0;
    const bool shaped = o.shaper >= 0 && shaperExists(o.shaper, o.rate);
    std::string data;
    std::vector<double> error(y.size(), 0.0);
    for (size_t i = 0; i < (y.empty() ? 0 : y[0].size()); ++i)
        for (size_t c = 0; c < y.size(); ++c) {
            const double wanted = y[c][i] * full - (shaped ? error[c] : 0.0);
            const double q = std::fmax(-full - 1, std::fmin(full, std::round(wanted)));
            error[c] = q - wanted;
            put(data, static_cast<uint32_t>(static_cast<int32_t>(q)), static_cast<int>(width));
        }
    if (mode == "doubled") data += data;
    std::string b = "WAVEfmt ";
    for (uint32_t v :
         {16u, 1u | channels << 16, uint32_t(labelled), uint32_t(labelled) * channels * width,
          channels * width | uint32_t(bits) << 16})
        put(b, v, 4);
    b += "data";
    put(b, static_cast<uint32_t>(data.size()), 4);
    std::string riff = "RIFF";
    put(riff, static_cast<uint32_t>(b.size() + data.size()), 4);
    if (mode == "truncated") data.resize(data.size() / 2 + 1);
    std::ofstream(o.out, std::ios::binary) << riff << b << data;
    if (const char* keep = std::getenv("FAKE_SSRC_KEEP"))
        std::ofstream(std::string(keep) + "/out-" + std::to_string(bits) + ".wav", std::ios::binary)
            << riff << b << data;
}

// Sleeps for at most five minutes, so that one nobody stops still goes away. One that
// escapes has left the group before this returns: a kill of the group cannot catch it
// on its way out.
void startGrandchild(const char* kind, const char* log) {
    int settled[2];
    if (::pipe(settled) != 0) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::strcmp(kind, "escape") == 0) ::setsid();
        ::close(settled[1]);
        ::alarm(300);
        for (;;)
            ::pause();
    }
    ::close(settled[1]);
    char none;
    while (pid > 0 && ::read(settled[0], &none, 1) < 0 && errno == EINTR) {
    }
    ::close(settled[0]);
    if (log && pid > 0)
        std::ofstream(log, std::ios::app) << "grandchild " << pid << " of " << ::getpid() << "\n";
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = std::getenv("FAKE_SSRC_MODE") ? std::getenv("FAKE_SSRC_MODE") : "";
    std::string line = mode == "hang" ? std::to_string(::getpid()) : "";
    for (int i = 1; mode != "hang" && i < argc; ++i)
        line.append(i > 1 ? " " : "").append(argv[i]);
    if (const char* log = std::getenv("FAKE_SSRC_LOG"))
        std::ofstream(log, std::ios::app) << line << "\n";
    if (const char* kind = std::getenv("FAKE_SSRC_GRANDCHILD"))
        startGrandchild(kind, std::getenv("FAKE_SSRC_LOG"));

    if (mode == "fail") {
        std::fputs("ssrc_hp: cannot convert \xe2\x80\x94 \xc3\xbcnsupported\n", stderr);
        return 3;
    }
    if (mode == "badutf8") {
        std::fputs("ssrc_hp: \xed\xa0\x80 broken\n", stderr); // an encoded surrogate
        return 2;
    }
    if (mode == "crash") {
        ::signal(SIGSEGV, SIG_DFL); // past any sanitizer's handler: die by the signal
        ::raise(SIGSEGV);
    }
    while (mode == "hang")
        ::pause();
    for (int i = 0; mode == "chatty" && i < 16384; ++i)
        std::fprintf(stderr, "%063d\n", i); // 1 MiB

    const Options o = parse(argc, argv);
    long inRate = 0;
    const Channels x = readInput(o.in, inRate);
    if (mode == "nooutput") return 0;
    if (mode == "garbage") {
        std::ofstream(o.out, std::ios::binary) << std::string(300, 'Z');
        return 0;
    }
    // Lengths off by a few frames, a rate converted to wrongly, a channel too many or few.
    const long tail = mode == "short" ? -2 : mode == "long" ? 3 : mode == "exact" ? 0 : 2;
    const long rate = mode == "wrongrate" ? o.rate / 2 : o.rate;
    Channels y = resample(x, inRate, rate, tail);
    if (mode == "channels") y.push_back(y[0]);
    if (mode == "mono" && y.size() > 1) y.pop_back();
    if (o.shaper >= 0 && !shaperExists(o.shaper, o.rate))
        std::fprintf(stderr, "Noise shaper %ld is not available.\n", o.shaper);
    writeOutput(o, y, mode, mode == "mislabelled" ? inRate + 1 : rate);
    return 0;
}
