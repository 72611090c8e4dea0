// The names and captions the window shows; the command line's tests read the common output
// names off the files it writes.
#include "model/naming.h"
#include "model/recipe.h"

#include <gtest/gtest.h>

using namespace sonteva;

TEST(Postfix, StemsOfRecipes) {
    EXPECT_EQ(expectedPostfix(48000, BitDepth::float32, QStringLiteral("SoX VHQ"), "None"),
              "_48k_32fp_SoX");
    EXPECT_EQ(expectedPostfix(176400, BitDepth::float64, QStringLiteral("r8brain Free"), "None"),
              "_176k_64fp_r8brain");
    EXPECT_EQ(expectedPostfix(352800, BitDepth::int32, "My Own Engine", "TPDF"),
              "_352k_32b_MyOwnEngine_TPDF");
}

TEST(Postfix, RegenerationKeepsTheUserSuffix) {
    PostfixState s{"_44k_16b_Sonteva_TPDF_ClientA", "_44k_16b_Sonteva_TPDF", true};
    regeneratePostfix(s, "_48k_16b_Sonteva_TPDF");
    EXPECT_EQ(s.customPostfix, "_48k_16b_Sonteva_TPDF_ClientA");
    EXPECT_EQ(s.lastGeneratedPostfix, "_48k_16b_Sonteva_TPDF");
    EXPECT_FALSE(s.postfixIsDirty);

    // A character edited inside the stem: the whole text is replaced by the new stem.
    s.customPostfix = "_48k_16b_Sontevo_TPDF_ClientA";
    regeneratePostfix(s, "_48k_24b_Sonteva_TPDF");
    EXPECT_EQ(s.customPostfix, "_48k_24b_Sonteva_TPDF");

    // A cleared field gets the bare stem.
    s.customPostfix.clear();
    regeneratePostfix(s, "_96k_24b_Sonteva_TPDF");
    EXPECT_EQ(s.customPostfix, "_96k_24b_Sonteva_TPDF");

    // With no previous stem the whole current text counts as the stem.
    PostfixState fresh{"_48k_24b", "", false};
    regeneratePostfix(fresh, "_44k_16b_Sonteva_TPDF");
    EXPECT_EQ(fresh.customPostfix, "_44k_16b_Sonteva_TPDF");
    // Whole characters, not bytes: a suffix with non-ASCII text survives intact.
    PostfixState accents{"_44k_16b_Sonteva_TPDF_Ré", "_44k_16b_Sonteva_TPDF", false};
    regeneratePostfix(accents, "_48k_16b_Sonteva_TPDF");
    EXPECT_EQ(accents.customPostfix, "_48k_16b_Sonteva_TPDF_Ré");
}

// Only the last dot starts the extension; a name without one gets one.
TEST(OutputUrl, NameAndFolder) {
    ConversionJob job;
    job.postfix = "_48k_24b_Swiss";
    job.inputFile.url = QUrl::fromLocalFile("/music/album/mix.final.wav");
    job.format = AudioFormat::flac;
    EXPECT_EQ(job.outputUrl().toLocalFile(), "/music/album/mix.final_48k_24b_Swiss.flac");
    job.inputFile.url = QUrl::fromLocalFile("/music/album/noext");
    job.outputFolder = QUrl::fromLocalFile("/deliveries");
    job.format = AudioFormat::aiff;
    EXPECT_EQ(job.outputUrl().toLocalFile(), "/deliveries/noext_48k_24b_Swiss.aiff");
}

TEST(Records, CaptionsAndLabels) {
    InputFile f{
        QUuid::createUuid(), QUrl::fromLocalFile("/a.wav"), 96000, 2, int64_t(185.7 * 96000), "24"};
    EXPECT_EQ(sourceCaption(f), "96k / 24 / St / 3:05");
    f.channels = 6;
    f.sampleRate = 44100;
    f.totalFrames = int64_t(59.9 * 44100);
    f.bitDepth = "16/24 (FLAC)";
    EXPECT_EQ(sourceCaption(f), "44k / 16/24 (FLAC) / Mo / 0:59");
    f.channels = 1;
    f.totalFrames = 61 * 60 * 44100;
    EXPECT_EQ(sourceCaption(f), "44k / 16/24 (FLAC) / Mo / 61:00");
    EXPECT_EQ(rateLabel(352800), "352.8 kHz");
    EXPECT_EQ(menuLabel(BitDepth::float32), "32-bit FP");
}
