// Prints the recipe's value lists as shell array assignments that bash and zsh both read,
// for the completion scripts generated at build time: the engines, dithers, rates, word
// lengths, formats and built-in presets come from the tables the program itself uses.
#include "audio_io/audio_format.h"
#include "model/presets.h"
#include "model/recipe.h"

#include <QString>

#include <cstdio>
#include <string>
#include <vector>

using namespace sonteva;

namespace {

// A single-quoted shell word: the only character that needs care inside is the quote.
std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void printArray(const char* name, const std::vector<std::string>& words) {
    std::string line = std::string("_sonteva_") + name + "=(";
    for (size_t i = 0; i < words.size(); ++i) {
        if (i) line += ' ';
        line += quoted(words[i]);
    }
    std::printf("%s)\n", line.c_str());
}

std::vector<std::string> strings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

} // namespace

int main() {
    std::vector<std::string> rates, bits, formats, presets;
    for (int rate : targetFsOptions())
        rates.push_back(std::to_string(rate));
    for (BitDepth depth : bitDepthOptions())
        bits.push_back(rawValue(depth));
    for (AudioFormat format : formatOptions())
        formats.push_back(rawValue(format));
    for (const GlobalPreset& preset : makeBuiltInPresets())
        presets.push_back(preset.name.toStdString());
    printArray("rates", rates);
    printArray("bits", bits);
    printArray("engines", strings(qualityOptions()));
    printArray("dithers", strings(ditherOptions()));
    printArray("formats", formats);
    printArray("presets", presets);
    return 0;
}
