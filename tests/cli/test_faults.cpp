// Faults around a running batch, through the real command line: a full disk, an output
// folder and a source that vanish while an earlier job runs, and an ssrc_hp that crashes,
// hangs or writes garbage. The job reports why, the batch goes on to the next one, existing
// files and sources stay byte for byte, and no temporary file or folder is left anywhere.
#include "cli_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

using namespace sonteva::test;

namespace {

const std::string kEarlier = "an earlier delivery";

} // namespace

TEST(Faults, FullDiskWhileWriting) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    TempDir dir;
    const std::string disk = dir.file("disk");
    fs::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};

    const std::string big = dir.file("big.wav"), small = dir.file("small.wav");
    put(big, wav(tone(48000 * 10))); // 2.6 MB of output
    put(small, wav(tone(4800)));
    const std::string existing = disk + "/big_44k_24b_Sonteva_TPDF.wav";
    put(existing, kEarlier);
    const std::string source = slurp(big);

    const CliRun r =
        runCli({"convert", "-r", "44100", "-b", "24", "-o", q(disk), q(big), q(small)});
    EXPECT_EQ(r.status, 1) << r.printed();
    EXPECT_EQ(failureOf(r, "big.wav"), "No space left on device") << r.printed();
    EXPECT_FALSE(doneLine(r, "small.wav").isEmpty()) << r.printed();
    EXPECT_EQ(namesIn(disk), (std::set<std::string>{"big_44k_24b_Sonteva_TPDF.wav",
                                                    "small_44k_24b_Sonteva_TPDF.wav"}));
    EXPECT_EQ(slurp(existing), kEarlier);
    EXPECT_EQ(slurp(big), source);
}

// While the first job writes, its output folder is moved away and the second job's source
// is deleted; the third job is untouched.
TEST(Faults, OutputFolderAndSourceVanishMidBatch) {
    TempDir dir;
    const std::string a = dir.file("A"), b = dir.file("B"), moved = dir.file("A-moved");
    fs::create_directory(a);
    fs::create_directory(b);
    put(a + "/long.wav", wav(tone(48000 * 120)));
    put(b + "/gone.wav", wav(tone(4800)));
    put(b + "/next.wav", wav(tone(4800)));
    const std::string suffix = "_44k_16b_r8brain_TPDF.wav";
    put(a + "/long" + suffix, kEarlier);
    put(b + "/gone" + suffix, kEarlier);
    const std::string longSource = slurp(a + "/long.wav");

    // One job at a time: the second must not have started while the first is paused.
    const CliRun r = runCli({"convert", "--jobs", "1", "-r", "44100", "-a", "r8brain Free",
                             q(a + "/long.wav"), q(b + "/gone.wav"), q(b + "/next.wav")},
                            {}, a, [&] {
                                fs::rename(a, moved);
                                fs::remove(b + "/gone.wav");
                            });
    ASSERT_TRUE(r.paused) << "the first job ended before it could be paused";
    EXPECT_EQ(r.status, 1) << r.printed();
    EXPECT_EQ(failureOf(r, "long.wav"), q("Cannot move the finished output to " + a + "/long" +
                                          suffix + ": No such file or directory"))
        << r.printed();
    EXPECT_EQ(failureOf(r, "gone.wav"), q("No such file: " + b + "/gone.wav")) << r.printed();
    EXPECT_FALSE(doneLine(r, "next.wav").isEmpty()) << r.printed();
    EXPECT_EQ(r.lines().last(), "Batch finished \u2014 1 done, 2 failed.");

    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(namesIn(moved), (std::set<std::string>{"long.wav", "long" + suffix}));
    EXPECT_EQ(slurp(moved + "/long.wav"), longSource);
    EXPECT_EQ(slurp(moved + "/long" + suffix), kEarlier);
    EXPECT_EQ(namesIn(b), (std::set<std::string>{"gone" + suffix, "next.wav", "next" + suffix}));
    EXPECT_EQ(slurp(b + "/gone" + suffix), kEarlier);
}

// The converter runs only for the first source (96 kHz); the second is already at the
// target rate and streams through without it.
TEST(Faults, ABrokenConverterFailsOnlyItsJob) {
    TempDir dir, tmp;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav"), log = dir.file("ssrc.log");
    put(a, wav(tone(9600), 2, 96000));
    put(b, wav(tone(4410), 2, 44100));
    const std::string existing = dir.file("a_44k_24b_SSRC_TPDF.wav");
    put(existing, kEarlier);
    const std::string source = slurp(a);

    for (const auto& [mode, error] : std::map<QString, QString>{
             {"crash", "SSRC failed: terminated by signal 11"},
             {"hang", "SSRC failed: ssrc_hp did not finish within 1 s and was stopped"},
             {"garbage", "SSRC produced unreadable output"}}) {
        SCOPED_TRACE(mode.toStdString());
        fs::remove(log);
        const CliRun r =
            runCli({"convert", "-r", "44100", "-b", "24", "-a", "SSRC Shibata", q(a), q(b)},
                   fakeConverter(tmp.path(), {{"SONTEVA_SSRC_TIME_LIMIT", "1"},
                                              {"FAKE_SSRC_MODE", mode},
                                              {"FAKE_SSRC_LOG", q(log)}}));
        EXPECT_EQ(r.status, 1) << r.printed();
        EXPECT_EQ(failureOf(r, "a.wav"), error) << r.printed();
        EXPECT_FALSE(doneLine(r, "b.wav").isEmpty()) << r.printed();
        // The converter's work folder was in TMPDIR, and is gone; one that never finished
        // was stopped, not left running.
        if (mode == "hang") {
            const pid_t hung = std::stoi(slurp(log));
            EXPECT_TRUE(::kill(hung, 0) == -1 && errno == ESRCH);
        } else {
            EXPECT_NE(slurp(log).find(tmp.path() + "/sonteva-ssrc-"), std::string::npos);
        }
        EXPECT_TRUE(tmp.entries().empty());
        EXPECT_EQ(namesIn(dir.path()),
                  (std::set<std::string>{"a.wav", "b.wav", "ssrc.log", "a_44k_24b_SSRC_TPDF.wav",
                                         "b_44k_24b_SSRC_TPDF.wav"}));
        EXPECT_EQ(slurp(existing), kEarlier);
        EXPECT_EQ(slurp(a), source);
    }
}
