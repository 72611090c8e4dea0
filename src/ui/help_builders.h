#pragma once
// Shorthands the manual's text is written with, shared by the files that hold its sections.
#include "ui/help_content.h"

#include <initializer_list>

namespace sonteva::help_builders {

using B = HelpBlock;

inline QString t(const char* utf8) {
    return QString::fromUtf8(utf8);
}

inline QStringList items(std::initializer_list<const char*> lines) {
    QStringList list;
    for (const char* line : lines)
        list << t(line);
    return list;
}

inline HelpSection section(const char* title, const char* icon, std::vector<HelpBlock> blocks) {
    return {QUuid::createUuid(), t(title), t(icon), std::move(blocks)};
}

} // namespace sonteva::help_builders
