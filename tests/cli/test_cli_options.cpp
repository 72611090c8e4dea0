// The option walker and the value parsers of `convert`, without a process (what the binary
// prints for them is attacked in test_conventions.cpp).
#include "cli/cli_options.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::cli;

namespace {

QStringList split(const char* args) {
    return QString(args).split('|');
}

std::string refusal(const char* args) {
    try {
        parseConvert(split(args));
    } catch (const UsageError& e) {
        return e.what();
    }
    return "accepted";
}

} // namespace

// Only what is given is set (the rest comes from the preset); every option in its short or
// long spelling, glued or apart; "--" ends the options.
TEST(CliOptions, EveryOptionInEverySpelling) {
    const ConvertOptions bare = parseConvert({"a.wav"});
    EXPECT_FALSE(bare.recipe.preset || bare.recipe.rate || bare.recipe.bits ||
                 bare.recipe.algorithm || bare.recipe.dither || bare.recipe.format ||
                 bare.postfix || bare.outputDir);
    EXPECT_EQ(bare.files, QStringList{"a.wav"});
    const ConvertOptions o =
        parseConvert(split("--preset|Hi Res|-r|48000|--bits=32f|-a|Zavir Iravizeza|--dither|"
                           "Noise Shaping High|-f|flac|--postfix|_x|-o|out|--json|-q|--|"
                           "-dash.wav|b.wav"));
    EXPECT_EQ(o.recipe.preset, "Hi Res");
    EXPECT_EQ(o.recipe.rate, 48000);
    EXPECT_EQ(o.recipe.bits, BitDepth::float32);
    EXPECT_EQ(o.recipe.algorithm, "Zavir Iravizeza");
    EXPECT_EQ(o.recipe.dither, "Noise Shaping High");
    EXPECT_EQ(o.recipe.format, AudioFormat::flac);
    EXPECT_EQ(o.postfix, "_x");
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_TRUE(o.json && o.quiet);
    EXPECT_EQ(o.files, (QStringList{"-dash.wav", "b.wav"}));
    const ConvertOptions glued = parseConvert(split("-r48k|-o/out|--postfix=|-n|--|--json|-"));
    EXPECT_EQ(glued.recipe.rate, 48000);
    EXPECT_EQ(glued.outputDir, "/out");
    EXPECT_EQ(glued.postfix, "");
    EXPECT_TRUE(glued.noClobber);
    EXPECT_FALSE(glued.json);
    EXPECT_EQ(glued.files, (QStringList{"--json", "-"}));
    QStringList rest;
    EXPECT_EQ(parseRecipe({"Client A", "-r", "96000"}, rest).rate, 96000);
    EXPECT_EQ(rest, QStringList{"Client A"});
    // --help wherever it stands before "--", also as an option's value.
    for (const char* args : {"--help", "a.wav|-h", "-o|--help|a.wav", "--bogus|--help"})
        EXPECT_THROW(parseConvert(split(args)), HelpRequested) << args;
    EXPECT_EQ(parseConvert({"--", "--help"}).files, QStringList{"--help"});
}

TEST(CliOptions, RejectionsListTheAcceptedValues) {
    const std::pair<const char*, const char*> cases[] = {
        {"-r|44000|a.wav", "44100, 48000, 88200"},
        {"-b|20|a.wav", "16, 24, 32, 32f, 64f"},
        {"-a|best|a.wav", "\"Zavir Iravizeza\""},
        {"-d|shaped|a.wav", "\"Noise Shaping Low\""},
        {"-f|mp3|a.wav", "wav, aiff, flac"},
        {"--colour|a.wav", "unknown option"},
        {"--json=yes|a.wav", "unknown option"},
        {"-r", "needs a value"},
        {"-r|48000", "no input files"},
        {"-qx|a.wav", "unknown option -qx"},
    };
    for (const auto& [args, said] : cases)
        EXPECT_NE(refusal(args).find(said), std::string::npos) << args << ": " << refusal(args);
}

// Each spelling people use, and the value it means.
TEST(CliOptions, ValuesAsPeopleTypeThem) {
    const std::pair<const char*, int> rates[] = {
        {"44100", 44100}, {"44.1k", 44100},   {"44.1kHz", 44100}, {"44.1 kHz", 44100},
        {"48k", 48000},   {"48K", 48000},     {"48 KHZ", 48000},  {"48000Hz", 48000},
        {"88.2k", 88200}, {"176.4k", 176400}, {"352.8k", 352800}, {"384k", 384000}};
    for (const auto& [text, rate] : rates)
        EXPECT_EQ(parseRate(text), rate) << text;
    for (const char* refused : {"", "48", "44.1", "44.10001k", "48001", "1e5", "0x2b11", "48kk"})
        EXPECT_THROW(parseRate(refused), UsageError) << refused;
    EXPECT_EQ(parseBits("32F"), BitDepth::float32);
    EXPECT_EQ(parseBits("24-bit"), BitDepth::int24);
    EXPECT_EQ(parseBits("64-bit FP"), BitDepth::float64);
    EXPECT_THROW(parseBits("32fbit"), UsageError);
    EXPECT_EQ(parseAlgorithm("sox vhq"), "SoX VHQ");
    EXPECT_EQ(parseAlgorithm("R8BRAIN FREE"), "r8brain Free");
    EXPECT_EQ(parseDither("noise-shaping-medium"), "Noise Shaping Medium");
    EXPECT_EQ(parseDither("tpdf"), "TPDF");
    EXPECT_EQ(parseFormat("FLAC"), AudioFormat::flac);
    EXPECT_EQ(parseFormat("aif"), AudioFormat::aiff);
}
