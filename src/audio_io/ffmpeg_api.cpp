#include "audio_io/ffmpeg_api.h"

#include <dlfcn.h>

namespace sonteva {

namespace {

struct Loaded {
    FfmpegApi api;
    bool ok = false;
    std::string error;
};

Loaded load() {
    Loaded l;
    void* libs[3] = {};
    const char* names[3] = {SONTEVA_AVUTIL_SONAME, SONTEVA_AVCODEC_SONAME, SONTEVA_AVFORMAT_SONAME};
    for (int i = 0; i < 3; ++i) {
        libs[i] = ::dlopen(names[i], RTLD_NOW | RTLD_LOCAL);
        if (!libs[i]) {
            const char* why = ::dlerror();
            l.error = std::string("FFmpeg is not available: ") + (why ? why : names[i]);
            return l;
        }
    }
    auto find = [&](const char* symbol) -> void* {
        for (void* lib : libs)
            if (void* p = ::dlsym(lib, symbol)) return p;
        l.error = std::string("FFmpeg lacks ") + symbol;
        return nullptr;
    };
#define SONTEVA_FFMPEG_LOOKUP(name)                                                                \
    l.api.name = reinterpret_cast<decltype(l.api.name)>(find(#name));                              \
    if (!l.api.name) return l;
    SONTEVA_FFMPEG_FUNCTIONS(SONTEVA_FFMPEG_LOOKUP)
#undef SONTEVA_FFMPEG_LOOKUP
    l.api.av_log_set_level(AV_LOG_QUIET);
    l.ok = true;
    return l;
}

} // namespace

const FfmpegApi* ffmpegApi(std::string* why) {
    static const Loaded loaded = load();
    if (!loaded.ok && why) *why = loaded.error;
    return loaded.ok ? &loaded.api : nullptr;
}

} // namespace sonteva
