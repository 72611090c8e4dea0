#pragma once
// The Conversion Settings box: the recipe that Add to Queue freezes into each job. Every
// control writes straight to the view model and shows what the model holds afterwards
// (the postfix and the preset label follow the recipe there); the panel keeps no copy.
// Engines and dithers that cannot run on this machine say so in their menus, where they
// are chosen ("SSRC Shibata — ssrc_hp was not found"), with what would enable them in the
// tooltip; the marks are renewed each time a menu opens.
#include "ui/window_style.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>

#include <functional>
#include <utility>
#include <vector>

namespace sonteva {

class AppViewModel;
class ElidedLabel;
class PostfixField;

class RecipePanel : public style::Box {
    Q_OBJECT
public:
    explicit RecipePanel(AppViewModel& vm, QWidget* parent = nullptr);

private:
    using Choices = std::vector<std::pair<QString, QVariant>>;
    void addRows(QGridLayout& grid);
    void addPair(QGridLayout& grid, int row, const QString& firstLabel, QWidget* first,
                 const QString& secondLabel, QWidget* second);
    QLayout* makePresetRow();
    QLayout* makeAlgorithmRow();
    QLayout* makeOutputRow();
    QComboBox* makeCombo(const char* name);
    QComboBox* makeCombo(const char* name, const Choices& choices,
                         std::function<void(const QVariant&)> chosen);
    void rebuildPresets();
    void syncRecipe();
    void syncPassThrough();
    void syncOutput();
    void markAvailability();

    AppViewModel& vm_;
    QComboBox* preset_ = nullptr;
    QToolButton* deletePreset_ = nullptr;
    QComboBox* rate_ = nullptr;
    QComboBox* bits_ = nullptr;
    QComboBox* algorithm_ = nullptr;
    QWidget* notUsed_ = nullptr;
    QLabel* passThroughNote_ = nullptr;
    QComboBox* dither_ = nullptr;
    QComboBox* format_ = nullptr;
    PostfixField* postfix_ = nullptr;
    ElidedLabel* outputPath_ = nullptr;
    QPushButton* resetOutput_ = nullptr;
};

} // namespace sonteva
