// Damaged, lying and oddly named inputs through the real command line, in one batch with
// good files: the process never dies, every damaged file fails with a reason, the good ones
// are written whole, and nothing partial or hidden is left in the output folder.
#include "cli_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

using namespace sonteva::test;

TEST(HostileFiles, DamagedInputsFailBesideGoodOnesAndLeaveNothingBehind) {
    TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directories(dir.file("in"));
    fs::create_directories(out);
    const auto in = [&](const std::string& name) { return dir.file("in/" + name); };
    const std::string audio = tone(4800);
    const std::string good = wav(audio);
    const std::string pastEnd = "LIST" + le(1u << 30, 4) + "INFO";

    const std::map<std::string, std::string> damaged = {
        {"chunk-past-end.wav", wav(audio, 2, 48000, {}, pastEnd)},
        {"rf64-huge.wav", rf64(uint64_t{1} << 62, uint64_t{1} << 60, audio)},
        {"rf64-max.wav", rf64(~uint64_t{0}, ~uint64_t{0}, audio)},
        {"channels-0.wav", wav(audio, 0)},
        {"channels-65535.wav", wav(audio, 65535)},
        {"rate-0.wav", wav(audio, 2, 0)},
        {"rate-1.wav", wav(tone(100), 2, 1)},
        {"rate-4e9.wav", wav(audio, 2, 4000000000u)},
    };
    for (const auto& [name, bytes] : damaged)
        put(in(name), bytes);
    fs::create_directory(in("folder.wav"));
    ASSERT_EQ(::mkfifo(in("pipe.wav").c_str(), 0600), 0); // opening it would wait for a writer

    // Good audio: under odd names, behind a damaged trailing chunk, with the sizes a
    // streaming writer leaves open or a sample count that lies.
    const std::vector<std::string> names = {"good.wav", "take one.wav", "it's \"live\".wav",
                                            "café – ñ 日本.wav"};
    for (const std::string& name : names)
        put(in(name), good);
    put(in("tail-past-end.wav"), wav(audio, 2, 48000, {}, {}, pastEnd));
    put(in("open-size.wav"), wav(audio, 2, 48000, 0xFFFFFFFF));
    put(in("rf64-count.wav"), rf64(audio.size(), uint64_t{1} << 62, audio));
    Planar withNan = musicLike(2, 4800, 48000);
    withNan[0][10] = std::nan("");
    withNan[1][20] = INFINITY;
    withNan[1][30] = -INFINITY;
    writeFile(in("nan.wav"), withNan, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.file("in")))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    QStringList args{"convert", "-r", "44100", "-b", "24", "-d", "None", "-o", q(out)};
    for (const std::string& file : files)
        args << q(file);
    const CliRun r = runCli(args);
    const std::string printed = r.printed();

    EXPECT_EQ(r.status, 1) << printed; // a normal exit, never a signal
    ASSERT_FALSE(r.lines().isEmpty());
    // One job failed and nine files could not even be loaded: all of them count.
    EXPECT_EQ(r.lines().last(), "Batch finished \u2014 8 done, 10 failed.") << printed;
    for (const auto& [name, bytes] : damaged)
        EXPECT_GT(failureOf(r, q(name)).trimmed().size(), 5) << name << "\n" << printed;
    EXPECT_EQ(failureOf(r, "rate-1.wav"), "The source's sample rate (1 Hz) cannot be converted");
    EXPECT_TRUE(failureOf(r, "folder.wav").startsWith("Is a folder, not an audio file"));
    EXPECT_TRUE(failureOf(r, "pipe.wav").startsWith("Not a regular file")) << printed;

    std::set<std::string> expected;
    for (const char* stem : {"good", "take one", "it's \"live\"", "café – ñ 日本", "tail-past-end",
                             "open-size", "rf64-count", "nan"})
        expected.insert(std::string(stem) + "_44k_24b_Sonteva.wav");
    EXPECT_EQ(namesIn(out), expected);

    const auto reference = readFile(out + "/good_44k_24b_Sonteva.wav").ints;
    ASSERT_EQ(reference.size(), 2u);
    EXPECT_GT(reference[0].size(), 4410u); // the whole signal and the filter's tail
    for (const char* stem :
         {"take one", "it's \"live\"", "café – ñ 日本", "tail-past-end", "open-size", "rf64-count"})
        EXPECT_EQ(readFile(out + "/" + stem + "_44k_24b_Sonteva.wav").ints, reference) << stem;
    for (const std::string& name : names)
        EXPECT_FALSE(doneLine(r, q(name)).isEmpty()) << name << "\n" << printed;
    EXPECT_TRUE(
        doneLine(r, "tail-past-end.wav").endsWith("metadata not carried to WAV: LIST (cut short)"))
        << printed;
    EXPECT_TRUE(doneLine(r, "nan.wav")
                    .endsWith("\u2014 3 non-finite samples (NaN or infinity) in the source were "
                              "treated as 0"))
        << printed;
}

// The source loses most of its audio while its job reads it.
TEST(HostileFiles, ASourceCutShortWhileItIsRead) {
    TempDir dir;
    const std::string out = dir.file("out"), source = dir.file("long.wav");
    fs::create_directory(out);
    put(source, wav(tone(48000 * 120)));
    const CliRun r =
        runCli({"convert", "-r", "44100", "-a", "r8brain Free", "-o", q(out), q(source)}, {}, out,
               [&] { fs::resize_file(source, 44 + 4 * 48000); });
    ASSERT_TRUE(r.paused) << "the job ended before it could be paused";
    EXPECT_EQ(r.status, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(failureOf(r, "long.wav").startsWith("Source ended early at frame "))
        << r.out.toStdString();
    EXPECT_TRUE(namesIn(out).empty());
}
