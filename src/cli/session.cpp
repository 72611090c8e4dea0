#include "cli/session.h"

#include "batch/queue_executor.h"
#include "engines/engine_table.h"
#include "model/file_names.h"

#include <cstdio>

namespace sonteva::cli {

std::unique_ptr<AppViewModel> makeViewModel() {
    return std::make_unique<AppViewModel>(std::make_shared<QueueExecutor>());
}

namespace {

// The preset a name means: a built-in first, then the user's; the exact name first, then
// one that differs only in case or surrounding spaces. Two user presets of one name (saved
// before names were guarded) are refused rather than one taken silently.
QUuid presetNamed(const AppViewModel& vm, const QString& name) {
    QStringList names;
    for (bool exact : {true, false})
        for (const auto* list : {&vm.builtInPresets(), &vm.userPresets()}) {
            std::vector<QUuid> found;
            for (const GlobalPreset& p : *list) {
                if (exact) names << QStringLiteral("\"%1\"").arg(p.name);
                if (exact ? p.name == name
                          : p.name.trimmed().compare(name.trimmed(), Qt::CaseInsensitive) == 0)
                    found.push_back(p.id);
            }
            if (found.size() > 1)
                throw UsageError(QStringLiteral("%1 user presets are named \"%2\"; keep one with "
                                                "'sonteva presets save --replace'")
                                     .arg(found.size())
                                     .arg(name)
                                     .toStdString());
            if (!found.empty()) return found.front();
        }
    throw UsageError(QStringLiteral("unknown preset \"%1\" (accepted: %2)")
                         .arg(name, names.join(QStringLiteral(", ")))
                         .toStdString());
}

} // namespace

void applyRecipe(AppViewModel& vm, const RecipeOptions& recipe) {
    if (recipe.preset) {
        vm.applyPreset(presetNamed(vm, *recipe.preset));
        // A stored preset may name an engine this build does not know: said here, where it
        // enters, instead of rendering with some other filter.
        if (!findEngine(vm.selectedQuality().toStdString()))
            throw UsageError(QStringLiteral("preset \"%1\" asks for an engine this build does not "
                                            "know: %2")
                                 .arg(*recipe.preset, QString::fromStdString(unknownEngineText(
                                                          vm.selectedQuality().toStdString())))
                                 .toStdString());
    }
    if (recipe.rate) vm.setTargetFsSelection(*recipe.rate);
    if (recipe.bits) vm.setSelectedBitDepth(*recipe.bits);
    if (recipe.algorithm) vm.setSelectedQuality(*recipe.algorithm);
    if (recipe.format) vm.setSelectedFormat(*recipe.format);
    if (recipe.dither) vm.setSelectedDither(*recipe.dither);
}

QString activePresetName(const AppViewModel& vm) {
    if (const auto& id = vm.activePresetId())
        for (const auto* list : {&vm.builtInPresets(), &vm.userPresets()})
            for (const GlobalPreset& p : *list)
                if (p.id == *id) return p.name;
    return QStringLiteral("Custom");
}

void printLine(FILE* stream, const QString& line) {
    std::fprintf(stream, "%s\n", printableText(line).toUtf8().constData());
    std::fflush(stream);
}

} // namespace sonteva::cli
