#pragma once
// The two external resampling libraries behind the engine interface: libsoxr with its
// very-high-quality recipe, and r8brain-free-src's 24-bit resampler (built only when its
// sources are given at configure time). Both are reached through a thin C-callable bridge.
#include "dsp/resampler_core.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
// Handles are opaque; null means failure. Counts are 64-bit; -1 reports a library error.
void* sonteva_soxr_create(double fsIn, double fsOut);
int64_t sonteva_soxr_process(void* h, const double* in, int64_t n, double* out, int64_t cap);
int64_t sonteva_soxr_flush(void* h, double* out, int64_t cap);
void sonteva_soxr_destroy(void* h);

void* sonteva_r8b_create(int32_t maxBlock, double fsIn, double fsOut);
int64_t sonteva_r8b_process(void* h, const double* in, int64_t n, double* out, int64_t cap);
void sonteva_r8b_destroy(void* h);
}

namespace sonteva {

class SoxrResampler final : public ResamplerCore {
public:
    // Null when libsoxr refuses the rate pair.
    static std::unique_ptr<SoxrResampler> create(int64_t fsIn, int64_t fsOut);
    ~SoxrResampler() override;
    SoxrResampler(const SoxrResampler&) = delete;
    SoxrResampler& operator=(const SoxrResampler&) = delete;
    std::vector<double> processBlock(std::span<const double> x) override;
    std::vector<double> flush() override;

private:
    SoxrResampler(void* handle, double ratio) : handle_(handle), ratio_(ratio) {}
    void* handle_;
    double ratio_;
};

// The three r8brain bridge functions an adapter runs on. The defaults are this build's
// own; tests hand in the same bridge compiled against a stand-in resampler class.
struct R8brainBridge {
    void* (*create)(int32_t, double, double) = sonteva_r8b_create;
    int64_t (*process)(void*, const double*, int64_t, double*, int64_t) = sonteva_r8b_process;
    void (*destroy)(void*) = sonteva_r8b_destroy;
};

class R8brainResampler final : public ResamplerCore {
public:
    static constexpr int64_t kMaxBlock = 65536;
    // Null when r8brain is not in this build or refuses the rate pair.
    static std::unique_ptr<R8brainResampler> create(int64_t fsIn, int64_t fsOut,
                                                    const R8brainBridge& bridge = {});
    ~R8brainResampler() override;
    R8brainResampler(const R8brainResampler&) = delete;
    R8brainResampler& operator=(const R8brainResampler&) = delete;
    std::vector<double> processBlock(std::span<const double> x) override;
    // Completes the output to exactly round(n·fsOut/fsIn) samples for the n fed so far.
    std::vector<double> flush() override;

    int64_t totalIn() const { return totalIn_; }
    int64_t totalOut() const { return totalOut_; }

private:
    R8brainResampler(void* handle, int64_t fsIn, int64_t fsOut, const R8brainBridge& bridge)
        : handle_(handle), fsIn_(fsIn), fsOut_(fsOut),
          ratio_(static_cast<double>(fsOut) / static_cast<double>(fsIn)), bridge_(bridge) {}
    int64_t expectedOutput(int64_t inputs) const;
    // Feeds n samples and appends everything the library releases for them (at most
    // keepAtMost of it); the count released, or -1 when the library failed on the input.
    int64_t pull(const double* in, int64_t n, std::vector<double>& out, int64_t keepAtMost);

    void* handle_;
    int64_t fsIn_, fsOut_;
    double ratio_;
    R8brainBridge bridge_;
    int64_t totalIn_ = 0;
    int64_t totalOut_ = 0;
};

// Whether r8brain-free-src was compiled into this build.
bool r8brainBuiltIn();
// The libraries as they name themselves, e.g. "libsoxr-0.1.3"; the r8brain text is
// empty when it is not built in.
std::string soxrLibraryVersion();
std::string r8brainLibraryVersion();

} // namespace sonteva
