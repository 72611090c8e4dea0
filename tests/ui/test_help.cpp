// The help window's sections in order, and the blocks of a section. That it opens once, from
// the keyboard, and closes from it is checked on the window and on a real display.
#include "ui/help_content.h"
#include "ui/help_window.h"

#include <QCoreApplication>
#include <QPointer>

#include <gtest/gtest.h>

namespace sonteva {
namespace {

TEST(HelpWindow, ElevenSectionsInOrderWithTheirBlocks) {
    const QStringList expected{"Overview",
                               "Source files",
                               "Conversion settings",
                               "Global presets",
                               "Conversion algorithms",
                               "Dither",
                               "Output files & naming",
                               "Batch queue",
                               "Preview & audition",
                               "Precision & signal path",
                               "Keyboard shortcuts"};
    HelpWindow* window = HelpWindow::show();
    EXPECT_EQ(window->sectionTitles(), expected);
    EXPECT_EQ(window->currentSection(), 0);

    // Keyboard shortcuts ends with single-item lists: each still renders one bullet row.
    const HelpSection& keys = HelpContent::all().back();
    window->selectSection(10);
    int items = 0;
    for (const HelpBlock& block : keys.blocks)
        if (block.kind == HelpBlock::Kind::bullets) items += int(block.lines.size());
    const auto rows = window->detailContent()->findChildren<QWidget*>("bulletRow");
    EXPECT_EQ(int(rows.size()), items);
    EXPECT_EQ(keys.blocks.back().lines, QStringList{"F1 or Ctrl+? — Open Help"});
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
} // namespace sonteva
