#include "analysis/converter_under_test.h"

#include "dsp/cores.h"
#include "engines/engine_factory.h"
#include "engines/engine_table.h"
#include "engines/ssrc_runner.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>

namespace sonteva::analysis {

namespace {

void checkCancel(const std::atomic<bool>* cancel) {
    if (cancel && cancel->load(std::memory_order_relaxed)) throw Cancelled();
}

std::vector<double> streamOne(ResamplerCore& engine, const std::vector<double>& x,
                              const std::atomic<bool>* cancel) {
    std::vector<double> out;
    out.reserve(x.size() * 2 + 4096);
    for (size_t at = 0; at < x.size(); at += kBlockFrames) {
        checkCancel(cancel);
        const size_t n = std::min<size_t>(kBlockFrames, x.size() - at);
        const auto block = engine.processBlock(std::span(x).subspan(at, n));
        out.insert(out.end(), block.begin(), block.end());
    }
    const auto tail = engine.flush();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

} // namespace

Channels streamChannels(const CoreFactory& make, const Channels& in,
                        const std::atomic<bool>* cancel) {
    Channels out(in.size());
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::exception_ptr failure;
    auto work = [&] {
        for (size_t c = next++; c < in.size(); c = next++) {
            try {
                std::unique_ptr<ResamplerCore> engine = make();
                if (!engine) throw std::runtime_error("the engine could not be built");
                out[c] = streamOne(*engine, in[c], cancel);
            } catch (...) {
                std::lock_guard guard(lock);
                if (!failure) failure = std::current_exception();
                next = in.size();
            }
        }
    };
    const size_t threads = std::min<size_t>(in.size(), static_cast<size_t>(usableCores()));
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (auto& t : pool)
        t.join();
    if (failure) std::rethrow_exception(failure);
    return out;
}

ConverterUnderTest streamingConverter(std::string ran, CoreFactory make) {
    ConverterUnderTest c;
    c.ran = std::move(ran);
    if (auto first = make()) c.claimedLatency = first->latencyFrames();
    c.convert = [make = std::move(make)](const Channels& in, const std::atomic<bool>* cancel) {
        return streamChannels(make, in, cancel);
    };
    return c;
}

std::optional<ConverterUnderTest> engineConverter(std::string_view name, int64_t fsIn,
                                                  int64_t fsOut, std::string* whyNot) {
    const EngineInfo* e = findEngine(name);
    if (!e) throw std::invalid_argument(unknownEngineText(name));
    if (!e->streams && fsIn != fsOut) {
        if (!SSRCRunner::binaryURL()) {
            if (whyNot) *whyNot = e->availability().reason + "; " + std::string(e->whenMissing);
            return std::nullopt;
        }
        ConverterUnderTest c;
        c.ran = e->name;
        c.convert = [fsIn, fsOut](const Channels& in, const std::atomic<bool>* cancel) {
            checkCancel(cancel);
            return SSRCRunner::convert(in, fsIn, fsOut);
        };
        return c;
    }
    // The factory says what runs (the engine, its stand-in or the pass-through) and why.
    ChosenEngine probe = makeExportResampler(name, fsIn, fsOut);
    ConverterUnderTest c;
    c.ran = probe.ran;
    c.substitution = probe.substitution;
    c.claimedLatency = probe.engine->latencyFrames();
    const std::string engine(name);
    c.convert = [engine, fsIn, fsOut](const Channels& in, const std::atomic<bool>* cancel) {
        return streamChannels([&] { return makeExportResampler(engine, fsIn, fsOut).engine; }, in,
                              cancel);
    };
    return c;
}

} // namespace sonteva::analysis
