// The names and captions the window shows (the command line's tests read the common output
// names off the files it writes), and file names as bytes: every byte sequence survives the
// trip through the text the state object keeps (and through QUrl), and prints on one line
// without U+FFFD.
#include "model/file_names.h"
#include "model/naming.h"
#include "model/recipe.h"
#include "model_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace sonteva;
using namespace sonteva::test;

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

TEST(FileNames, EveryByteSequenceRoundTrips) {
    const QByteArray cases[] = {
        "plain.wav",         "caf\xC3\xA9.wav", "caf\xE9.wav", "\xF0\x9F\x8E\xB5.flac",
        "\xC0\xAF",          // overlong "/"
        "\xED\xA0\x80",      // an encoded surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "\xE2\x82",          // cut short
        "\xFF\xFE\x80\xBF",  // never valid
        "a\\xE9\n\x7F\x01b", // text that looks like an escape, and control characters
    };
    for (const QByteArray& bytes : cases) {
        const QString text = pathFromBytes(bytes);
        EXPECT_EQ(bytesOfPath(text), bytes) << bytes.toHex().constData();
        EXPECT_EQ(localPath(QUrl::fromLocalFile("/x/" + text)), "/x/" + bytes.toStdString());
        EXPECT_FALSE(printablePath(text).contains(QChar::ReplacementCharacter));
        EXPECT_FALSE(printablePath(text).contains('\n'));
    }
    std::mt19937 rng(5);
    for (int n = 0; n < 2000; ++n) {
        QByteArray bytes;
        for (int i = 0, size = int(rng() % 12) + 1; i < size; ++i)
            bytes += char(rng() % 255 + 1);
        ASSERT_EQ(bytesOfPath(pathFromBytes(bytes)), bytes) << bytes.toHex().constData();
    }
    EXPECT_EQ(printablePath(pathFromBytes("caf\xE9 \xC3\xA9\t.wav")), "caf\\xE9 \u00e9\\x09.wav");
    EXPECT_EQ(pathFromBytes("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
}

// A dropped URL carries the bytes percent-encoded; Qt alone would turn them into U+FFFD.
TEST(FileNames, ADroppedLatin1NameIsFound) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    const std::string path = f.dir.file("caf\xE9.wav");
    writeFile(path, musicLike(2, 480, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const QByteArray encoded =
        "file://" + QByteArray::fromStdString(f.dir.path()).toPercentEncoding("/") + "/caf%E9.wav";
    vm.addInputFile(QUrl::fromEncoded(encoded));
    ASSERT_EQ(vm.inputFiles().size(), 1u) << vm.globalStatus().toStdString();
    EXPECT_EQ(localPath(vm.inputFiles()[0].url), path);
    EXPECT_EQ(vm.globalStatus(), "Added caf\\xE9.wav");
    vm.addAllToQueue();
    EXPECT_EQ(localPath(vm.batchJobs()[0].outputUrl()),
              f.dir.file("caf\xE9_44k_16b_Sonteva_TPDF.wav"));
}
