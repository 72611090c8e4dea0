#include "cli/cli_options.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::cli;

TEST(CliOptions, OnlyWhatIsGivenIsSet) {
    const ConvertOptions o = parseConvert({"a.wav"});
    EXPECT_FALSE(o.recipe.preset || o.recipe.rate || o.recipe.bits || o.recipe.algorithm ||
                 o.recipe.dither || o.recipe.format);
    EXPECT_FALSE(o.postfix.has_value());
    EXPECT_FALSE(o.outputDir.has_value());
    EXPECT_EQ(o.files, QStringList{"a.wav"});
}

TEST(CliOptions, EveryOptionInBothSpellings) {
    const ConvertOptions o = parseConvert({"--preset",
                                           "Hi Res",
                                           "-r",
                                           "48000",
                                           "--bits=32f",
                                           "-a",
                                           "Zavir Iravizeza",
                                           "--dither",
                                           "Noise Shaping High",
                                           "-f",
                                           "flac",
                                           "--postfix",
                                           "_x",
                                           "-o",
                                           "out",
                                           "--json",
                                           "-q",
                                           "--",
                                           "-dash.wav",
                                           "b.wav"});
    EXPECT_EQ(o.recipe.preset, "Hi Res");
    EXPECT_EQ(o.recipe.rate, 48000);
    EXPECT_EQ(o.recipe.bits, BitDepth::float32);
    EXPECT_EQ(o.recipe.algorithm, "Zavir Iravizeza");
    EXPECT_EQ(o.recipe.dither, "Noise Shaping High");
    EXPECT_EQ(o.recipe.format, AudioFormat::flac);
    EXPECT_EQ(o.postfix, "_x");
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.files, (QStringList{"-dash.wav", "b.wav"}));
    QStringList rest;
    const RecipeOptions r = parseRecipe({"Client A", "-r", "96000"}, rest);
    EXPECT_EQ(r.rate, 96000);
    EXPECT_EQ(rest, QStringList{"Client A"});
}

TEST(CliOptions, RejectionsListTheAcceptedValues) {
    auto message = [](const QStringList& args) {
        try {
            parseConvert(args);
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message({"-r", "44000", "a.wav"}).find("44100, 48000, 88200"), std::string::npos);
    EXPECT_NE(message({"-b", "20", "a.wav"}).find("16, 24, 32, 32f, 64f"), std::string::npos);
    EXPECT_NE(message({"-a", "best", "a.wav"}).find("\"Zavir Iravizeza\""), std::string::npos);
    EXPECT_NE(message({"-d", "shaped", "a.wav"}).find("\"Noise Shaping Low\""), std::string::npos);
    EXPECT_NE(message({"-f", "mp3", "a.wav"}).find("wav, aiff, flac"), std::string::npos);
    EXPECT_NE(message({"--colour", "a.wav"}).find("unknown option"), std::string::npos);
    EXPECT_NE(message({"--json=yes", "a.wav"}).find("unknown option"), std::string::npos);
    EXPECT_NE(message({"-r"}).find("needs a value"), std::string::npos);
    EXPECT_NE(message({"-r", "48000"}).find("no input files"), std::string::npos);
    EXPECT_NE(message({"-qx", "a.wav"}).find("unknown option -qx"), std::string::npos);
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

// Glued values, "--", and --help wherever it stands before "--".
TEST(CliOptions, TheWalkerFollowsTheCommonConventions) {
    const ConvertOptions o =
        parseConvert({"-r48k", "-o/out", "--postfix=", "-n", "--", "--json", "-"});
    EXPECT_EQ(o.recipe.rate, 48000);
    EXPECT_EQ(o.outputDir, "/out");
    EXPECT_EQ(o.postfix, "");
    EXPECT_TRUE(o.noClobber);
    EXPECT_FALSE(o.json);
    EXPECT_EQ(o.files, (QStringList{"--json", "-"}));
    for (const QStringList& args :
         {QStringList{"--help"}, QStringList{"a.wav", "-h"}, QStringList{"-o", "--help", "a.wav"},
          QStringList{"--bogus", "--help"}})
        EXPECT_THROW(parseConvert(args), HelpRequested) << args.join(' ').toStdString();
    EXPECT_EQ(parseConvert({"--", "--help"}).files, QStringList{"--help"});
}
