#pragma once
// Entry points that take arbitrary bytes to the parsers facing files from outside: the
// converter's returned WAV, the stored user presets, sources, and metadata. libFuzzer
// drives them (fuzz_entry.cpp); the test suite replays the inputs that once broke them.
// Each returns normally for any input; a crash, a sanitizer report or an abort() on a
// violated invariant is a finding.
#include <cstddef>
#include <cstdint>

namespace sonteva::fuzz {

int ssrcOutput(const uint8_t* data, size_t size);
int userPresets(const uint8_t* data, size_t size);
int source(const uint8_t* data, size_t size);
int metadata(const uint8_t* data, size_t size);

} // namespace sonteva::fuzz
