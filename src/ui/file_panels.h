#pragma once
// The desktop's choosers behind Add Audio Files… and Choose Output Folder…: modal file
// dialogs over the main window.
#include "model/app_view_model.h"

#include <QPointer>
#include <QWidget>

namespace sonteva {

class DialogFilePanels : public FilePanels {
public:
    explicit DialogFilePanels(QWidget* parent) : parent_(parent) {}
    QList<QUrl> chooseAudioFiles() override;
    std::optional<QUrl> chooseFolder() override;

    // The name filter of the open panel: the extensions the decoders take.
    static QString audioFilter();

private:
    QPointer<QWidget> parent_;
};

} // namespace sonteva
