#include "app/about_box.h"

#include "app/app_icon.h"
#include "app/app_info.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace sonteva {

void showAboutBox(QWidget* parent) {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("About Sonteva"));
    box.setIconPixmap(appIcon().pixmap(64));
    box.setText(QStringLiteral("Sonteva"));
    box.setInformativeText(
        QStringLiteral("Reference-Grade Sample Rate Conversion for Linux\n"
                       "Version %1\n\n"
                       "A batch sample-rate and bit-depth converter for mastering: it renders "
                       "WAV, AIFF or FLAC deliverables through five conversion algorithms, "
                       "each of which can be auditioned in real time before rendering.")
            .arg(AppInfo::version()));
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    // Room for the tagline on one line.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(440, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

} // namespace sonteva
