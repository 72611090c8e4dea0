// File names are bytes: every byte sequence survives the trip through the text the state
// object keeps (and through QUrl), and prints on one line without U+FFFD.
#include "model/file_names.h"
#include "model_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <random>

using namespace sonteva;
using namespace sonteva::test;

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
