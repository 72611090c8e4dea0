#include "model/batch_texts.h"
#include "model/recipe.h"

#include <gtest/gtest.h>

using namespace sonteva;

TEST(Vocabulary, OptionsAndLabels) {
    EXPECT_EQ(qualityOptions(), (QStringList{"Sonteva SRC", "Zavir Iravizeza", "SoX VHQ",
                                             "r8brain Free", "SSRC Shibata"}));
    EXPECT_EQ(ditherOptions(), (QStringList{"None", "TPDF", "Noise Shaping Low",
                                            "Noise Shaping Medium", "Noise Shaping High"}));
    EXPECT_EQ(targetFsOptions(),
              (std::vector<int>{44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000}));
    EXPECT_EQ(rateLabel(48000), "48 kHz");
    EXPECT_EQ(rateLabel(44100), "44.1 kHz");
    EXPECT_EQ(rateLabel(352800), "352.8 kHz");
    EXPECT_EQ(menuLabel(BitDepth::float32), "32-bit FP");
    EXPECT_EQ(menuLabel(AudioFormat::aiff), "AIFF");
    EXPECT_TRUE(isNoiseShaping("Noise Shaping Medium"));
    EXPECT_FALSE(isNoiseShaping("TPDF"));
}

TEST(Records, SourceCaption) {
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
}

TEST(Records, EqualityRules) {
    InputFile a{QUuid::createUuid(), QUrl::fromLocalFile("/a.wav"), 48000, 2, 10, "24"};
    InputFile b = a;
    EXPECT_EQ(a, b);
    b.id = QUuid::createUuid();
    EXPECT_NE(a, b); // same URL, different id: different entries

    GlobalPreset p{QUuid::createUuid(), "P",         44100, BitDepth::int16, kSontevaSRC,
                   AudioFormat::wav,    std::nullopt};
    GlobalPreset q = p;
    EXPECT_EQ(p, q);
    q.dither = QString("TPDF"); // absent dither equals only absent dither
    EXPECT_NE(p, q);
}

TEST(BatchTexts, SummaryLines) {
    EXPECT_EQ(batchSummary(0, 0), "Batch completed successfully \u2014 0 files written.");
    EXPECT_EQ(batchSummary(1, 0), "Batch completed successfully \u2014 1 file written.");
    EXPECT_EQ(batchSummary(3, 0), "Batch completed successfully \u2014 3 files written.");
    EXPECT_EQ(batchSummary(2, 1), "Batch finished \u2014 2 done, 1 failed.");
    EXPECT_EQ(processingText("take.wav"), "Processing take.wav...");
}
