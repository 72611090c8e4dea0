#pragma once
// The manual shown by the help window: eleven sections, each an ordered list of typed
// blocks. Built once, on first use, and never changed.
#include <QString>
#include <QStringList>
#include <QUuid>

#include <vector>

namespace sonteva {

struct HelpBlock {
    enum class Kind { para, heading, bullets, tip };
    Kind kind = Kind::para;
    QStringList lines; // one line, except for bullets (one per item)

    static HelpBlock para(const QString& text) { return {Kind::para, {text}}; }
    static HelpBlock heading(const QString& text) { return {Kind::heading, {text}}; }
    static HelpBlock bullets(const QStringList& items) { return {Kind::bullets, items}; }
    static HelpBlock tip(const QString& text) { return {Kind::tip, {text}}; }
};

struct HelpSection {
    QUuid id; // fresh for every section
    QString title;
    QString icon; // a glyph drawn by helpIcon()
    std::vector<HelpBlock> blocks;
};

namespace HelpContent {
// Every section, in reading order.
const std::vector<HelpSection>& all();
} // namespace HelpContent

} // namespace sonteva
