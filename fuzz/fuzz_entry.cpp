// One libFuzzer executable per target; SONTEVA_FUZZ_TARGET names the entry point.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return sonteva::fuzz::SONTEVA_FUZZ_TARGET(data, size);
}
