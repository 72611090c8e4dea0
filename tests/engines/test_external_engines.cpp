// The two external adapters. libsoxr runs for real. r8brain-free-src is not in this build,
// so its bridge is compiled here against a stand-in with the library's interface and a
// predictable rule: after `seen` inputs it has released floor((seen - latency)·dst/src)
// outputs, output j being input floor(j·src/dst). Like the library it releases about
// ratio × input per call and holds back its latency; with `burst` set it releases only
// when `seen` crosses a multiple of it, as the library does with its own block size.
#include "dsp/test_support.h"
#include "engines/external_engines.h"
#include "engines/r8b_bridge_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

using namespace sonteva;

namespace {

struct BridgeCall {
    int64_t n, cap, result;
};
struct StandInState {
    bool throwOnConstruct = false, throwOnProcess = false;
    int failCall = -1; // this process call reports a negative count; -2: every call
    int64_t latency = 100, burst = 0;
    double src = 0, dst = 0, transBand = 0;
    int maxInLen = 0;
    std::vector<int> lengths;      // calls reaching the stand-in
    std::vector<BridgeCall> calls; // bridge calls made by the adapter
} standIn;

class StandInResampler24 {
public:
    StandInResampler24(double srcRate, double dstRate, int maxInLen, double transBand)
        : src_(std::llround(srcRate)), dst_(std::llround(dstRate)), maxInLen_(maxInLen) {
        if (standIn.throwOnConstruct) throw std::runtime_error("refused");
        standIn.src = srcRate, standIn.dst = dstRate, standIn.maxInLen = maxInLen;
        standIn.transBand = transBand;
    }
    int process(double* ip, int length, double*& op) {
        const int call = static_cast<int>(standIn.lengths.size());
        standIn.lengths.push_back(length);
        if (length > maxInLen_) ADD_FAILURE() << "input longer than MaxInLen: " << length;
        if (standIn.throwOnProcess) throw std::runtime_error("library fault");
        if (standIn.failCall == -2 || standIn.failCall == call) return -1;
        seen_.insert(seen_.end(), ip, ip + length);
        int64_t seen = std::ssize(seen_);
        if (standIn.burst > 0) seen -= seen % standIn.burst;
        const int64_t ready = std::max<int64_t>(0, (seen - standIn.latency) * dst_ / src_);
        out_.clear();
        for (; produced_ < ready; ++produced_)
            out_.push_back(seen_[static_cast<size_t>(produced_ * src_ / dst_)]);
        op = out_.data();
        return static_cast<int>(out_.size());
    }

private:
    int64_t src_, dst_;
    int maxInLen_;
    int64_t produced_ = 0;
    std::vector<double> seen_, out_;
};

void* fakeCreate(int32_t maxBlock, double fsIn, double fsOut) {
    return r8b_bridge::create<StandInResampler24>(maxBlock, fsIn, fsOut);
}
int64_t fakeProcess(void* h, const double* in, int64_t n, double* out, int64_t cap) {
    const int64_t r = r8b_bridge::process<StandInResampler24>(h, in, n, out, cap);
    standIn.calls.push_back({n, cap, r});
    return r;
}
const R8brainBridge kFake{fakeCreate, fakeProcess, r8b_bridge::destroy<StandInResampler24>};

std::vector<double> ramp(size_t n) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 1.0 + static_cast<double>(i);
    return x;
}

// Every output of the stand-in is the input it maps to, or a flushed zero.
void expectStandInOutput(const std::vector<double>& y, const std::vector<double>& x, int64_t src,
                         int64_t dst) {
    for (size_t j = 0; j < y.size(); ++j) {
        const auto i = static_cast<size_t>(static_cast<int64_t>(j) * src / dst);
        ASSERT_EQ(y[j], i < x.size() ? x[i] : 0.0) << "output " << j;
    }
}

class R8brain : public ::testing::Test {
protected:
    void SetUp() override { standIn = {}; }
};

} // namespace

TEST_F(R8brain, BridgeStagingCapacityAndFailures) {
    void* h = fakeCreate(1000, 44100, 88200);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::tuple(standIn.src, standIn.dst, standIn.maxInLen),
              std::tuple(44100, 88200, 1000));
    const std::vector<double> x = ramp(1001);
    std::vector<double> out(4000, -7.0);
    // One sample more than the staging buffer: refused, nothing copied, library untouched.
    EXPECT_EQ(fakeProcess(h, x.data(), 1001, out.data(), 4000), -1);
    EXPECT_TRUE(standIn.lengths.empty());
    EXPECT_EQ(std::count(out.begin(), out.end(), -7.0), 4000);
    // 1000 samples release (1000 - 100)·2 = 1800 outputs; a capacity of 500 takes 500 and
    // the rest waits, in order, for the calls that follow, with or without new input.
    EXPECT_EQ(fakeProcess(h, x.data(), 1000, out.data(), 500), 500);
    EXPECT_EQ(out[500], -7.0);
    EXPECT_EQ(fakeProcess(h, x.data(), 0, out.data() + 500, 1000), 1000);
    EXPECT_EQ(fakeProcess(h, x.data(), 10, out.data() + 1500, 2000), 320); // 300 held + 20 new
    EXPECT_EQ(fakeProcess(h, x.data(), 0, out.data() + 1820, 2000), 0);
    EXPECT_EQ(standIn.lengths, (std::vector<int>{1000, 10})); // draining never calls it
    expectStandInOutput({out.begin(), out.begin() + 1820}, x, 1, 2);
    EXPECT_EQ(out[1820], -7.0);
    standIn.failCall = 2;
    EXPECT_EQ(fakeProcess(h, x.data(), 10, out.data(), 500), -1);
    standIn.throwOnProcess = true;
    EXPECT_EQ(fakeProcess(h, x.data(), 10, out.data(), 500), -1);
    EXPECT_EQ(fakeProcess(nullptr, x.data(), 10, out.data(), 500), -1);
    r8b_bridge::destroy<StandInResampler24>(h);

    standIn = {};
    standIn.throwOnConstruct = true;
    EXPECT_EQ(fakeCreate(65536, 44100, 48000), nullptr);
    standIn.throwOnConstruct = false;
    EXPECT_EQ(fakeCreate(65536, 0, 48000), nullptr);
    EXPECT_EQ(fakeCreate(65536, 44100, std::numeric_limits<double>::quiet_NaN()), nullptr);
    EXPECT_EQ(fakeCreate(0, 44100, 48000), nullptr);
    EXPECT_EQ(standIn.src, 0); // refused before the library saw the rates
}

TEST_F(R8brain, FlushCompletesTheRoundedLength) {
    auto engine = R8brainResampler::create(44100, 48000, kFake);
    ASSERT_NE(engine, nullptr);
    const std::vector<double> x = ramp(1000);
    std::vector<double> y = engine->processBlock(x);
    EXPECT_EQ(y.size(), 979u); // the rest is held back as latency
    const std::vector<double> tail = engine->flush();
    y.insert(y.end(), tail.begin(), tail.end());
    EXPECT_EQ(y.size(), 1088u); // 1000·48000/44100 = 1088.43…
    EXPECT_EQ(engine->totalOut(), 1088);
    expectStandInOutput(y, x, 44100, 48000);
    ASSERT_EQ(standIn.calls.size(), 2u); // the tail: one block of 8192 zeros
    EXPECT_EQ(standIn.calls[1].n, 8192);
    EXPECT_EQ(standIn.calls[1].cap, 8916 + 8192); // room for all 8192·48000/44100 of them
    EXPECT_TRUE(engine->flush().empty());

    // Halves round away from zero: 1001 samples at half the rate give 501.
    auto half = R8brainResampler::create(96000, 48000, kFake);
    EXPECT_EQ(test::runSplit(*half, ramp(1001), {1001}).size(), 501u);
}

// The held-back latency is thousands of output samples at large ratios, more than any
// fixed flush buffer; bursts exceed the room a call reserves for ratio × input.
TEST_F(R8brain, EveryRatioDeliversItsWholeTail) {
    struct Case {
        int64_t src, dst, latency, burst;
    };
    const std::vector<Case> cases = {
        {44100, 384000, 2500, 0}, {32000, 352800, 1900, 0},    {22050, 192000, 2500, 0},
        {8000, 384000, 2400, 0},  {8000, 384000, 2400, 30000}, {44100, 48000, 2500, 20000},
        {384000, 8000, 2400, 0},  {1000, 768000, 3000, 0},     {44100, 44101, 0, 0}};
    for (const auto& [src, dst, latency, burst] : cases) {
        SCOPED_TRACE(std::to_string(src) + " -> " + std::to_string(dst) + ", burst " +
                     std::to_string(burst));
        standIn = {};
        standIn.latency = latency;
        standIn.burst = burst;
        auto engine = R8brainResampler::create(src, dst, kFake);
        ASSERT_NE(engine, nullptr);
        const std::vector<double> x = ramp(src == 1000 ? 5003 : 70001);
        const std::vector<double> y = test::runSplit(*engine, x, {1000, 69001});
        const auto want = static_cast<int64_t>(std::floor(double(x.size()) * dst / src + 0.5));
        EXPECT_EQ(std::ssize(y), want);
        EXPECT_EQ(engine->totalOut(), want);
        expectStandInOutput(y, x, src, dst); // the real samples up to the last, never zeros
        EXPECT_TRUE(engine->flush().empty());
    }
}

// Long blocks go in chunks of at most 65536, each with room for all it may release; a
// library error costs only its chunk, and a library that produces nothing is not flushed
// forever.
TEST_F(R8brain, LongBlocksGoInChunksAndErrorsCostOnlyTheirChunk) {
    const std::vector<double> x = ramp(150000);
    auto engine = R8brainResampler::create(44100, 48000, kFake);
    const std::vector<double> y = test::runSplit(*engine, x, {150000});
    EXPECT_EQ(std::vector<int>(standIn.lengths.begin(), standIn.lengths.begin() + 3),
              (std::vector<int>{65536, 65536, 18928}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(standIn.calls[i].cap,
                  static_cast<int64_t>(standIn.calls[i].n * 48000.0 / 44100.0) + 8192);
    EXPECT_EQ(engine->totalIn(), 150000);
    EXPECT_EQ(y.size(), 163265u); // round(163265.3)
    expectStandInOutput(y, x, 44100, 48000);

    standIn = {};
    standIn.failCall = 1;
    auto failing = R8brainResampler::create(44100, 48000, kFake);
    const std::vector<double> z = failing->processBlock(x);
    EXPECT_EQ(failing->totalIn(), 150000);
    EXPECT_GT(standIn.calls[2].result, 0); // conversion went on
    EXPECT_EQ(std::ssize(z), standIn.calls[0].result + standIn.calls[2].result);
    EXPECT_EQ(failing->totalOut(), std::ssize(z));

    standIn = {};
    standIn.failCall = -2;
    auto silent = R8brainResampler::create(44100, 48000, kFake);
    EXPECT_TRUE(test::runSplit(*silent, ramp(1000), {1000}).empty());
    EXPECT_EQ(standIn.calls.size(), 1u + 4096u);
}

TEST(R8brainBuild, WithoutTheLibraryEveryPairIsRefused) {
    if (r8brainBuiltIn()) GTEST_SKIP() << "r8brain-free-src is built in";
    EXPECT_EQ(R8brainResampler::create(44100, 48000), nullptr);
    double x = 0, y = 0;
    EXPECT_EQ(sonteva_r8b_process(nullptr, &x, 1, &y, 1), -1);
}

#ifdef SONTEVA_WITH_R8BRAIN
// The library itself: DC through its linear-phase low-pass reads at least half its level
// from the first output sample to the last (half the filter still covers the signal at
// either end); a lost tail would read as exact zeros.
TEST(R8brainBuild, TheLibraryDeliversEveryFrameAtEveryRatio) {
    ASSERT_TRUE(r8brainBuiltIn());
    const std::vector<std::pair<int64_t, int64_t>> pairs = {
        {44100, 384000}, {32000, 352800}, {22050, 192000}, {8000, 384000},
        {384000, 8000},  {44100, 48000},  {96000, 44100},  {48000, 48001}};
    for (const auto& [src, dst] : pairs) {
        SCOPED_TRACE(std::to_string(src) + " -> " + std::to_string(dst));
        auto engine = R8brainResampler::create(src, dst);
        ASSERT_NE(engine, nullptr);
        const std::vector<double> x(static_cast<size_t>(src / 3 + 7), 0.5);
        const std::vector<double> y = test::runSplit(*engine, x, {4096, 65539});
        ASSERT_EQ(std::ssize(y),
                  static_cast<int64_t>(std::floor(double(x.size()) * dst / src + 0.5)));
        for (size_t j = 0; j < y.size(); ++j)
            ASSERT_GT(y[j], 0.2) << "output " << j << " of " << y.size();
        EXPECT_NEAR(y[y.size() / 2], 0.5, 1e-4);
    }
}
#endif

// ---- libsoxr ----------------------------------------------------------------------------

namespace {
std::vector<double> sine(size_t n, double freq, double fs) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 0.5 * std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(i) / fs);
    return x;
}
} // namespace

TEST(Soxr, BridgeRefusalsEmptyCallsAndTightBuffers) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sonteva_soxr_create(0, 48000), nullptr);
    EXPECT_EQ(sonteva_soxr_create(44100, -48000), nullptr);
    EXPECT_EQ(sonteva_soxr_create(inf, 48000), nullptr); // would never return from libsoxr
    EXPECT_EQ(SoxrResampler::create(0, 48000), nullptr);
    const std::vector<double> x = sine(10000, 997.0, 44100);
    std::vector<double> y(100);
    EXPECT_EQ(sonteva_soxr_process(nullptr, x.data(), 1, y.data(), 1), -1);
    EXPECT_EQ(sonteva_soxr_flush(nullptr, y.data(), 1), -1);

    void* h = sonteva_soxr_create(44100, 48000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sonteva_soxr_process(h, x.data(), 0, y.data(), 100), 0);
    EXPECT_EQ(sonteva_soxr_process(h, x.data(), 10000, y.data(), 0), 0);
    // With little room libsoxr takes the input a bit at a time; the bridge keeps feeding it.
    EXPECT_EQ(sonteva_soxr_process(h, x.data(), 10000, y.data(), 100), 100);
    sonteva_soxr_destroy(h);
}

TEST(Soxr, AdapterIsBlockSplitInvariantExactAndOfTheRightLength) {
    const std::vector<double> x = sine(100000, 997.0, 44100);
    auto whole = SoxrResampler::create(44100, 48000);
    auto split = SoxrResampler::create(44100, 48000);
    ASSERT_NE(whole, nullptr);
    ASSERT_NE(split, nullptr);
    EXPECT_TRUE(whole->processBlock({}).empty());
    const std::vector<double> a = test::runSplit(*whole, x, {x.size()});
    EXPECT_EQ(a, test::runSplit(*split, x, {1, 17, 4096, 333, 70000, 2}));
    EXPECT_NEAR(static_cast<double>(a.size()), 100000.0 * 48000 / 44100, 1.0);
    // Double precision and no delay: the same tone at the new rate, away from the edges.
    const std::vector<double> want = sine(a.size(), 997.0, 48000);
    for (size_t j = 5000; j + 5000 < a.size(); ++j)
        ASSERT_NEAR(a[j], want[j], 1e-6) << j;

    auto down = SoxrResampler::create(96000, 44100);
    ASSERT_NE(down, nullptr);
    EXPECT_NEAR(static_cast<double>(test::runSplit(*down, sine(96001, 1000, 96000), {8192}).size()),
                96001.0 * 44100 / 96000, 1.0);
}
