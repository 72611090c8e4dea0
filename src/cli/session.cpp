#include "cli/session.h"

#include "batch/queue_executor.h"
#include "engines/engine_table.h"

#include <cstdio>

namespace sonteva::cli {

std::unique_ptr<AppViewModel> makeViewModel() {
    return std::make_unique<AppViewModel>(std::make_shared<QueueExecutor>());
}

void applyRecipe(AppViewModel& vm, const RecipeOptions& recipe) {
    if (recipe.preset) {
        std::optional<QUuid> id;
        QStringList names;
        for (const auto* list : {&vm.builtInPresets(), &vm.userPresets()})
            for (const GlobalPreset& p : *list) {
                names << QStringLiteral("\"%1\"").arg(p.name);
                if (!id && p.name == *recipe.preset) id = p.id;
            }
        if (!id)
            throw UsageError(QStringLiteral("unknown preset \"%1\" (accepted: %2)")
                                 .arg(*recipe.preset, names.join(QStringLiteral(", ")))
                                 .toStdString());
        vm.applyPreset(*id);
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
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace sonteva::cli
