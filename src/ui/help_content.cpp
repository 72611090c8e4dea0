#include "ui/help_content.h"
#include "ui/help_builders.h"

namespace sonteva {

namespace {

using namespace help_builders;

HelpSection overview() {
    return section(
        "Overview", "cycle",
        {B::para(t("Sonteva is a batch sample-rate and bit-depth converter for mastering "
                   "delivery. It turns finished masters into the deliverables you need: any "
                   "target rate from 44.1 to 384 kHz, integer or floating-point word lengths, "
                   "WAV, AIFF or FLAC. Every step between reading the source and writing the "
                   "result is computed in 64-bit floating point.")),
         B::para(t("The window is one straight top-to-bottom workflow:")),
         B::bullets(items({"Source Files — the audio files you want to convert. Drop them in "
                           "or add them from the File menu.",
                           "Conversion Settings — the recipe: target rate, bit depth, "
                           "algorithm, dither, file format, file-name postfix and destination.",
                           "Batch Queue — the jobs to render, one per source, each carrying a "
                           "frozen copy of the recipe it was queued with."})),
         B::para(t("Each output travels exactly one path: source file → conversion engine → "
                   "dither → output file. Nothing else touches the audio, and there is no "
                   "hidden resampling by the system along the way.")),
         B::tip(t("A typical CD delivery: drop the masters, choose the CD Master preset "
                  "(44.1 kHz, 16-bit, TPDF dither, WAV), press Add to Queue, then Run Batch."))});
}

HelpSection sources() {
    return section(
        "Source files", "import",
        {B::para(t("Add files by dragging them from the file manager onto the Source Files "
                   "box, or with File → Add Audio Files… (Ctrl+O). Any format Sonteva can "
                   "decode is accepted — WAV, AIFF, FLAC, CAF, MP3, AAC/M4A and more — at any "
                   "sample rate and word length, mono or stereo.")),
         B::heading(t("The file row")),
         B::bullets(
             items({"Under each name a summary shows the sample rate (such as 96k), the bit depth "
                    "(such as 24, 32f or 16/24 (FLAC)), St for stereo or Mo otherwise, and the "
                    "duration.",
                    "The same file is never listed twice: adding a path that is already there does "
                    "nothing.",
                    "The minus button removes one file; the ✕ in the box header clears the whole "
                    "list.",
                    "Removing sources does not touch jobs that are already queued: each job keeps "
                    "its own copy of the source's details."})),
         B::heading(t("Files are read at full precision")),
         B::para(t("Sources decode straight into 64-bit floating point, whatever their "
                   "original word length. No intermediate 32-bit or integer stage is involved.")),
         B::tip(t("You can keep dropping files while a batch runs; only removing them is "
                  "locked until it finishes."))});
}

HelpSection settings() {
    return section(
        "Conversion settings", "sliders",
        {B::para(t("The Conversion Settings box is the recipe. It applies to the jobs you "
                   "queue next: Add to Queue freezes the current recipe into each new job, so "
                   "changing a setting afterwards never alters jobs already in the queue.")),
         B::heading(t("Target sample rate (Fs)")),
         B::para(t("Eight target rates are offered: 44.1, 48, 88.2, 96, 176.4, 192, 352.8 and "
                   "384 kHz. Upsampling and downsampling run through the same engines.")),
         B::heading(t("Bit depth")),
         B::bullets(items({"16-bit and 24-bit integer — the usual delivery formats, and the "
                           "only targets where dither is applied.",
                           "32-bit integer — written without dither.",
                           "32-bit and 64-bit float — written unquantised; 64-bit float WAV "
                           "files are produced by Sonteva's own RIFF writer (RF64 when larger "
                           "than 4 GB)."})),
         B::heading(t("File format")),
         B::bullets(items({"WAV — all five word lengths.",
                           "AIFF — big-endian, all integer and float word lengths.",
                           "FLAC — 16 or 24 bits; 32-bit integer and float targets are stored "
                           "as 24-bit FLAC."})),
         B::heading(t("Dither")),
         B::para(t("None, TPDF, or Noise Shaping Low / Medium / High. See the Dither section "
                   "for when each applies.")),
         B::heading(t("Algorithm")),
         B::para(t("Five conversion engines: Sonteva SRC (the default), Zavir Iravizeza, SoX "
                   "VHQ, r8brain Free and SSRC Shibata. When every source already has the "
                   "target rate, the row reads \"not used\": the audio passes through "
                   "untouched and only bit depth, dither and format apply."))});
}

HelpSection presets() {
    return section(
        "Global presets", "stack",
        {B::para(t("A preset stores one complete recipe: target rate, bit depth, algorithm, "
                   "dither and file format. Choosing one from the Global Preset menu sets all "
                   "of them at once.")),
         B::heading(t("Built-in presets")),
         B::bullets(items({"CD Master — 44.1 kHz, 16-bit, Sonteva SRC, WAV, TPDF dither. "
                           "Active when Sonteva starts.",
                           "Hi Res — 96 kHz, 24-bit, Sonteva SRC, WAV, no dither.",
                           "Streaming — 48 kHz, 24-bit, Sonteva SRC, WAV, no dither.",
                           "Video / DVD — 48 kHz, 16-bit, Sonteva SRC, WAV, TPDF dither.",
                           "Blu-ray — 96 kHz, 24-bit, Sonteva SRC, WAV, no dither.",
                           "Audiophile — 192 kHz, 24-bit, Sonteva SRC, WAV, no dither."})),
         B::heading(t("User presets")),
         B::bullets(items({"Save the current settings as a preset with the + button beside the "
                           "menu (or Convert → Save Preset…, Ctrl+Shift+S) and give it a name.",
                           "The − button, shown while one of your presets is active, deletes "
                           "it; the current settings stay as they are.",
                           "The menu label follows the settings: it names the preset that "
                           "matches them and reads Custom as soon as any control differs."})),
         B::tip(t("Presets do not store the postfix or the output folder; those stay as you "
                  "set them when you switch presets."))});
}

} // namespace

// The remaining sections live in help_content_more.cpp to keep each file readable.
HelpSection helpAlgorithms();
HelpSection helpDither();
HelpSection helpNaming();
HelpSection helpQueue();
HelpSection helpPreview();
HelpSection helpPrecision();
HelpSection helpShortcuts();

const std::vector<HelpSection>& HelpContent::all() {
    static const std::vector<HelpSection> sections = {
        overview(),   sources(),   settings(),    presets(),       helpAlgorithms(), helpDither(),
        helpNaming(), helpQueue(), helpPreview(), helpPrecision(), helpShortcuts()};
    return sections;
}

} // namespace sonteva
