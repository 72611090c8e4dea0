// Which file a path names, whatever spelling leads to it.
#include "audio_io/file_identity.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace sonteva;
namespace fs = std::filesystem;

TEST(FileIdentity, LinksAndSpellingsOfOneFileAreOneFile) {
    test::TempDir dir;
    fs::create_directory(dir.file("A"));
    fs::create_directory_symlink(dir.file("A"), dir.file("B"));
    std::ofstream(dir.file("A/x.wav")) << "x";
    const auto a = fileIdentity(dir.file("A/x.wav"));
    ASSERT_TRUE(a && a->exists);
    for (const char* other : {"B/x.wav", "A/./x.wav", "B/../A/x.wav"})
        EXPECT_TRUE(a->sameAs(*fileIdentity(dir.file(other)))) << other;
    // Names that do not exist yet are compared by folder and name.
    EXPECT_TRUE(fileIdentity(dir.file("A/new.wav"))->sameAs(*fileIdentity(dir.file("B/new.wav"))));
    EXPECT_FALSE(fileIdentity(dir.file("A/new.wav"))->sameAs(*fileIdentity(dir.file("A/New.wav"))))
        << "this file system tells case apart";
    EXPECT_FALSE(folderIgnoresCase(dir.path()));
    fs::create_hard_link(dir.file("A/x.wav"), dir.file("y.wav"));
    EXPECT_TRUE(a->sameAs(*fileIdentity(dir.file("y.wav"))));
    EXPECT_FALSE(fileIdentity(dir.file("missing/x.wav"))) << "no folder, no identity";
}

TEST(FileIdentity, CaseFoldingOfNames) {
    EXPECT_EQ(caseFolded("Take 1.WAV"), "take 1.wav");
    EXPECT_EQ(caseFolded("CAF\xC3\x89 \xC3\x91.wav"), "caf\xC3\xA9 \xC3\xB1.wav"); // É Ñ
    EXPECT_EQ(caseFolded("\xCE\xA3\xCE\x9F"), "\xCF\x83\xCE\xBF");                 // ΣΟ
    // Bytes that are not UTF-8 (a Latin-1 name) are kept as they are.
    EXPECT_EQ(caseFolded("Caf\xC9.wav"), "caf\xC9.wav");
    EXPECT_EQ(caseFolded(std::string("a\0B", 3)), std::string("a\0b", 3));
}
