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
    EXPECT_NE(message({"-a", "sonteva src", "a.wav"}).find("\"Zavir Iravizeza\""),
              std::string::npos);
    EXPECT_NE(message({"-d", "tpdf", "a.wav"}).find("\"Noise Shaping Low\""), std::string::npos);
    EXPECT_NE(message({"-f", "mp3", "a.wav"}).find("wav, aiff, flac"), std::string::npos);
    EXPECT_NE(message({"--colour", "a.wav"}).find("unknown option"), std::string::npos);
    EXPECT_NE(message({"--json=yes", "a.wav"}).find("unknown option"), std::string::npos);
    EXPECT_NE(message({"-r"}).find("needs a value"), std::string::npos);
    EXPECT_NE(message({"-r", "48000"}).find("no input files"), std::string::npos);
}
