// `sonteva presets list|save|delete` and `sonteva engines`.
#include "audio_io/audio_io.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "engines/engine_table.h"
#include "model/presets.h"

#include <cstdio>

namespace sonteva::cli {

namespace {

QString describe(const GlobalPreset& p) {
    return QStringLiteral("%1, %2, %3, %4, %5")
        .arg(rateLabel(p.targetFs), menuLabel(p.bitDepth), p.quality, effectiveDither(p),
             menuLabel(p.format));
}

int listPresets(const QStringList& args) {
    QStringList rest;
    const RecipeOptions recipe = parseRecipe(args, rest);
    if (!rest.isEmpty()) throw UsageError("presets list takes recipe options only");
    auto vm = makeViewModel();
    applyRecipe(*vm, recipe);
    auto show = [&](const char* heading, const std::vector<GlobalPreset>& presets) {
        printLine(stdout, QString::fromUtf8(heading));
        if (presets.empty()) printLine(stdout, QStringLiteral("    (none)"));
        for (const GlobalPreset& p : presets)
            printLine(stdout, QStringLiteral("  %1 %2  (%3)")
                                  .arg(vm->activePresetId() == p.id ? QStringLiteral("*")
                                                                    : QStringLiteral(" "),
                                       p.name, describe(p)));
    };
    show("Built-in presets:", vm->builtInPresets());
    show("User presets:", vm->userPresets());
    printLine(stdout, QStringLiteral("The recipe shows as: %1").arg(activePresetName(*vm)));
    return 0;
}

int savePreset(const QStringList& args) {
    QStringList rest;
    const RecipeOptions recipe = parseRecipe(args, rest);
    if (rest.size() != 1) throw UsageError("presets save takes one NAME");
    auto vm = makeViewModel();
    applyRecipe(*vm, recipe);
    vm->saveCustomPreset(rest.first());
    printLine(stdout, QStringLiteral("Saved user preset \"%1\" (%2)")
                          .arg(rest.first(), describe(vm->userPresets().back())));
    return 0;
}

int deletePreset(const QStringList& args) {
    if (args.size() != 1) throw UsageError("presets delete takes one NAME");
    auto vm = makeViewModel();
    std::vector<QUuid> ids;
    for (const GlobalPreset& p : vm->userPresets())
        if (p.name == args.first()) ids.push_back(p.id);
    if (ids.empty()) {
        printLine(stderr, QStringLiteral("sonteva: no user preset named \"%1\"").arg(args.first()));
        return 1;
    }
    for (const QUuid& id : ids)
        vm->deleteUserPreset(id);
    printLine(stdout, QStringLiteral("Deleted user preset \"%1\"").arg(args.first()));
    return 0;
}

} // namespace

int runPresets(const QStringList& args) {
    const QString what = args.value(0);
    const QStringList rest = args.mid(1);
    if (what == QLatin1String("list")) return listPresets(rest);
    if (what == QLatin1String("save")) return savePreset(rest);
    if (what == QLatin1String("delete")) return deletePreset(rest);
    throw UsageError("presets needs list, save NAME or delete NAME");
}

int runEngines(const QStringList& args) {
    if (!args.isEmpty()) throw UsageError("engines takes no arguments");
    for (const EngineInfo& engine : engineTable()) {
        const EngineAvailability a = engine.availability();
        QString text = QString::fromStdString(a.reason);
        if (!a.available)
            text = QStringLiteral("not available here: %1; %2")
                       .arg(text, toQString(engine.whenMissing));
        printLine(stdout, QStringLiteral("%1 %2").arg(toQString(engine.name), -16).arg(text));
    }
    return 0;
}

} // namespace sonteva::cli
