#include "model/presets.h"
#include "model_support.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

QString activeName(const AppViewModel& vm) {
    for (const auto* list : {&vm.builtInPresets(), &vm.userPresets()})
        for (const GlobalPreset& p : *list)
            if (vm.activePresetId() == p.id) return p.name;
    return "Custom";
}

QUuid idOf(const AppViewModel& vm, const QString& name) {
    for (const auto* list : {&vm.builtInPresets(), &vm.userPresets()})
        for (const GlobalPreset& p : *list)
            if (p.name == name) return p.id;
    return {};
}

} // namespace

// (The command line's tests read the fresh recipe, "CD Master", off its output names.)
TEST(StateObject, FreshStart) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    EXPECT_EQ(vm.lastGeneratedPostfix(), "_44k_16b_Sonteva_TPDF");
    EXPECT_EQ(vm.globalStatus(), "Ready. Drop audio files to begin.");
    // A rate outside the offered list stays the current rate.
    vm.setTargetFsSelection(22050);
    EXPECT_EQ(vm.targetFsSelection(), 22050);
    EXPECT_EQ(vm.customPostfix(), "_22k_16b_Sonteva_TPDF");
    EXPECT_EQ(activeName(vm), "Custom");
}

TEST(Presets, ApplyingAndMatching) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    vm.setCustomPostfix("_44k_16b_Sonteva_TPDF_ClientA");
    vm.applyPreset(idOf(vm, "Blu-ray"));
    EXPECT_EQ(activeName(vm), "Blu-ray"); // although "Hi Res" holds the same recipe
    EXPECT_EQ(vm.customPostfix(), "_96k_24b_Sonteva_ClientA");
    vm.setTargetFsSelection(48000);
    EXPECT_EQ(activeName(vm), "Streaming");
    vm.setTargetFsSelection(96000);
    EXPECT_EQ(activeName(vm), "Hi Res");
    // The postfix and the output folder never move the label.
    vm.setCustomPostfix("_mine");
    vm.setOutputFolder(QUrl::fromLocalFile("/tmp"));
    EXPECT_EQ(activeName(vm), "Hi Res");
}

TEST(Presets, SaveDeleteAndPersist) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    vm.setTargetFsSelection(48000);
    vm.setSelectedQuality(QStringLiteral("Zavir Iravizeza"));
    vm.setSelectedDither("None");
    vm.setSelectedBitDepth(BitDepth::int24);
    vm.saveCustomPreset("Client A");
    vm.saveCustomPreset("Client A"); // same name twice: both kept
    EXPECT_EQ(vm.userPresets().size(), 2u);
    EXPECT_EQ(vm.activePresetId(), vm.userPresets().back().id);

    AppViewModel& again = f.start(); // a new start reads them back
    ASSERT_EQ(again.userPresets().size(), 2u);
    EXPECT_EQ(again.userPresets()[0].name, "Client A");
    EXPECT_EQ(again.userPresets()[0].dither, QString("None"));
    EXPECT_EQ(activeName(again), "CD Master");
    again.applyPreset(again.userPresets()[1].id);
    again.deleteUserPreset(again.userPresets()[1].id);
    EXPECT_EQ(again.targetFsSelection(), 48000); // the controls keep their values
    EXPECT_EQ(activeName(again), "Client A");    // the remaining twin now matches
    again.deleteUserPreset(again.userPresets()[0].id);
    EXPECT_EQ(activeName(again), "Custom");
}

TEST(Presets, StoredFormsAndMigration) {
    ModelFixture f;
    const QByteArray stored =
        R"([{"id":"6F1D3A52-4C1B-4C4E-9A45-0B7F0D1E2A3B","name":"Old","targetFs":44100,)"
        R"("bitDepth":"16","quality":"Zavir Iravizeza 2","format":"wav","dither":"Shibata"},)"
        R"({"id":"0B1D3A52-4C1B-4C4E-9A45-0B7F0D1E2A3B","name":"NoDither16","targetFs":48000,)"
        R"("bitDepth":"16","quality":"Sonteva SRC","format":"flac"},)"
        R"({"id":"1C1D3A52-4C1B-4C4E-9A45-0B7F0D1E2A3B","name":"NoDither24","targetFs":48000,)"
        R"("bitDepth":"24","quality":"Sonteva SRC","format":"flac"}])";
    f.settings->setValue("UserPresets", stored);
    AppViewModel& vm = f.start();
    ASSERT_EQ(vm.userPresets().size(), 3u);
    const GlobalPreset& old = vm.userPresets()[0];
    EXPECT_EQ(old.id, QUuid::fromString(QStringLiteral("6F1D3A52-4C1B-4C4E-9A45-0B7F0D1E2A3B")));
    EXPECT_EQ(old.quality, QStringLiteral("Zavir Iravizeza"));
    EXPECT_EQ(old.dither, QString("Noise Shaping Medium"));
    EXPECT_EQ(f.settings->value("UserPresets").toByteArray(), stored); // not written back
    // An absent dither: TPDF for 16-bit, None otherwise, when applying and matching.
    vm.applyPreset(vm.userPresets()[1].id);
    EXPECT_EQ(vm.selectedDither(), "TPDF");
    vm.applyPreset(vm.userPresets()[2].id);
    EXPECT_EQ(vm.selectedDither(), "None");
    vm.setTargetFsSelection(44100);
    vm.setTargetFsSelection(48000);
    EXPECT_EQ(activeName(vm), "NoDither24");
}

TEST(Presets, UndecodableStoreIsIgnoredUntilTheNextSave) {
    for (const QByteArray& bad :
         {QByteArray("not json"), QByteArray(R"([{"name":"x"}])"),
          QByteArray(R"([{"id":"zz","name":"x","targetFs":1,"bitDepth":"16",)"
                     R"("quality":"q","format":"wav"}])"),
          QByteArray(R"([{"id":"6F1D3A52-4C1B-4C4E-9A45-0B7F0D1E2A3B",)"
                     R"("name":"x","targetFs":1,"bitDepth":"17",)"
                     R"("quality":"q","format":"wav"}])")}) {
        ModelFixture f;
        f.settings->setValue("UserPresets", bad);
        AppViewModel& vm = f.start();
        EXPECT_TRUE(vm.userPresets().empty());
        EXPECT_EQ(f.settings->value("UserPresets").toByteArray(), bad);
        vm.saveCustomPreset("fresh");
        EXPECT_EQ(decodePresets(f.settings->value("UserPresets").toByteArray())->size(), 1u);
    }
}

TEST(Presets, JsonRoundTrip) {
    std::vector<GlobalPreset> presets = makeBuiltInPresets();
    presets[1].dither.reset();
    const auto back = decodePresets(encodePresets(presets));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, presets);
    EXPECT_EQ(migrateDither(QString("High-Pass")), QString("Noise Shaping Low"));
    EXPECT_EQ(migrateDither(QString("Lipshitz")), QString("Noise Shaping Low"));
    EXPECT_EQ(migrateDither(QString("Gesemann")), QString("Noise Shaping High"));
    EXPECT_EQ(migrateDither(QString("TPDF")), QString("TPDF"));
    EXPECT_EQ(migrateDither(std::nullopt), std::nullopt);
}
