#pragma once
// What every sub-command shares: the state object with its executor, built on the same
// per-user store as the desktop application, and the recipe options applied to it.
#include "cli/cli_options.h"
#include "model/app_view_model.h"

#include <cstdio>
#include <memory>

namespace sonteva::cli {

std::unique_ptr<AppViewModel> makeViewModel();
// The named preset first (built-in, then user), then every option given. Throws UsageError
// for an unknown preset name.
void applyRecipe(AppViewModel& vm, const RecipeOptions& recipe);
// "CD Master", or "Custom" when no preset matches.
QString activePresetName(const AppViewModel& vm);
void printLine(FILE* stream, const QString& line);

} // namespace sonteva::cli
