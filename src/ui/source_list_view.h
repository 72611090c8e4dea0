#pragma once
// The Source Files box: what will be converted. Files dropped anywhere on the box go to
// the view model's drop handling, also while a batch runs; each listed file shows its
// name over a one-line summary, with a remove button that is locked during a batch.
#include "model/recipe.h"
#include "ui/window_style.h"

#include <QStackedWidget>
#include <QVBoxLayout>

namespace sonteva {

class AppViewModel;

class SourceListView : public style::Box {
    Q_OBJECT
public:
    explicit SourceListView(AppViewModel& vm, QWidget* parent = nullptr);

    // A file drag is hovering over the box.
    bool isTargeted() const { return isHighlighted(); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeDropArea();
    QWidget* makeRow(const InputFile& file);
    void rebuild();
    void refreshLocks();

    AppViewModel& vm_;
    QToolButton* clearButton_;
    QStackedWidget* pages_;
    QWidget* rows_;
    QVBoxLayout* rowLayout_;
};

} // namespace sonteva
