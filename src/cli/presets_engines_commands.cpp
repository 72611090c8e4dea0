// `sonteva presets list|save|delete` and `sonteva engines`.
#include "audio_io/audio_io.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "engines/engine_table.h"
#include "model/presets.h"

#include <algorithm>
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

// Names are compared as people read them: without regard to case or surrounding spaces.
bool sameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

std::vector<QUuid> userPresetsNamed(const AppViewModel& vm, const QString& name) {
    std::vector<QUuid> ids;
    for (const GlobalPreset& p : vm.userPresets())
        if (sameName(p.name, name)) ids.push_back(p.id);
    return ids;
}

const GlobalPreset* builtInNamed(const AppViewModel& vm, const QString& name) {
    for (const GlobalPreset& p : vm.builtInPresets())
        if (sameName(p.name, name)) return &p;
    return nullptr;
}

int refuse(const QString& why) {
    printLine(stderr, QStringLiteral("sonteva: ") + why);
    return 1;
}

// The store is shared with the window: a name must say which preset --preset means.
int savePreset(const QStringList& args) {
    QStringList rest;
    RecipeOptions recipe;
    bool replace = false;
    walkOptions(args, rest, [&](const QString& name, const std::function<QString()>& value) {
        if (isOption(name, nullptr, "--replace")) return replace = true;
        return takeRecipeOption(recipe, name, value);
    });
    if (rest.size() != 1) throw UsageError("presets save takes one NAME");
    const QString name = rest.first();
    if (name.trimmed().isEmpty()) return refuse(QStringLiteral("a preset needs a name"));
    if (std::any_of(name.begin(), name.end(),
                    [](QChar c) { return c.category() == QChar::Other_Control; }))
        return refuse(QStringLiteral("a preset name cannot hold control characters"));
    auto vm = makeViewModel();
    if (const GlobalPreset* builtIn = builtInNamed(*vm, name))
        return refuse(QStringLiteral("\"%1\" is the name of a built-in preset; choose another")
                          .arg(builtIn->name));
    const std::vector<QUuid> existing = userPresetsNamed(*vm, name);
    if (!existing.empty() && !replace)
        return refuse(QStringLiteral("a user preset named \"%1\" exists already (use --replace "
                                     "to replace it)")
                          .arg(name));
    applyRecipe(*vm, recipe);
    for (const QUuid& id : existing)
        vm->deleteUserPreset(id);
    vm->saveCustomPreset(name);
    printLine(stdout,
              QStringLiteral("%1 user preset \"%2\" (%3)")
                  .arg(existing.empty() ? QStringLiteral("Saved") : QStringLiteral("Replaced"),
                       name, describe(vm->userPresets().back())));
    return 0;
}

int deletePreset(const QStringList& args) {
    QStringList rest;
    walkOptions(args, rest, [](const QString&, const std::function<QString()>&) { return false; });
    if (rest.size() != 1) throw UsageError("presets delete takes one NAME");
    auto vm = makeViewModel();
    const QString name = rest.first();
    const std::vector<QUuid> ids = userPresetsNamed(*vm, name);
    if (ids.empty()) {
        if (const GlobalPreset* builtIn = builtInNamed(*vm, name))
            return refuse(QStringLiteral("\"%1\" is a built-in preset and cannot be deleted")
                              .arg(builtIn->name));
        return refuse(QStringLiteral("no user preset named \"%1\"").arg(name));
    }
    for (const QUuid& id : ids)
        vm->deleteUserPreset(id);
    printLine(stdout, QStringLiteral("Deleted user preset \"%1\"").arg(name));
    return 0;
}

} // namespace

int runPresets(const QStringList& args) {
    const QString what = args.value(0);
    const QStringList rest = args.mid(1);
    if (what == QLatin1String("list")) return listPresets(rest);
    if (what == QLatin1String("save")) return savePreset(rest);
    if (what == QLatin1String("delete")) return deletePreset(rest);
    if (what.isEmpty()) throw UsageError("presets needs list, save NAME or delete NAME");
    throw UsageError(QStringLiteral("unknown presets action \"%1\" (accepted: list, save, delete)")
                         .arg(what)
                         .toStdString());
}

int runEngines(const QStringList& args) {
    QStringList rest;
    walkOptions(args, rest, [](const QString&, const std::function<QString()>&) { return false; });
    if (!rest.isEmpty()) throw UsageError("engines takes no arguments");
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
