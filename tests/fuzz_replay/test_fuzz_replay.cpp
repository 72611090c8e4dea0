// Every input the fuzzers ever broke a parser with, kept under tests/data/hostile/<target>/,
// goes through that parser again on every test run: a regression crashes or trips a
// sanitizer here long before anyone runs the fuzzers again.
#include "fuzz/fuzz_targets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Entry = int (*)(const uint8_t*, size_t);

int replay(const char* target, Entry entry) {
    const fs::path dir = fs::path(SONTEVA_HOSTILE_DIR) / target;
    int count = 0;
    if (!fs::is_directory(dir)) return 0;
    for (const auto& file : fs::directory_iterator(dir)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(file.path().string());
        EXPECT_EQ(entry(bytes.data(), bytes.size()), 0);
        ++count;
    }
    return count;
}

} // namespace

TEST(FuzzReplay, KeptInputsPassEveryParser) {
    int total = 0;
    total += replay("ssrc_output", sonteva::fuzz::ssrcOutput);
    total += replay("user_presets", sonteva::fuzz::userPresets);
    total += replay("source", sonteva::fuzz::source);
    total += replay("metadata", sonteva::fuzz::metadata);
    EXPECT_GT(total, 0) << "the corpus under " << SONTEVA_HOSTILE_DIR << " is missing";
}
