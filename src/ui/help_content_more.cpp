// The manual's sections from the algorithms onwards (see help_content.cpp).
#include "ui/help_builders.h"
#include "ui/help_content.h"

namespace sonteva {

namespace {

using namespace help_builders;

} // namespace

HelpSection helpAlgorithms() {
    return section(
        "Conversion algorithms", "waveform",
        {B::para(t("Sonteva offers five conversion engines. Two are its own, built on a 64-bit "
                   "polyphase FIR core; three are established converters driven at their "
                   "highest quality.")),
         B::heading(t("Sonteva SRC — the flagship")),
         B::bullets(items({"A linear-phase polyphase FIR filter with its −6 dB cut-off placed "
                           "at the lower of the two Nyquist frequencies.",
                           "128 taps per phase — a short filter, about 2.7 ms at 48 kHz, that "
                           "keeps transients tight.",
                           "Stop-band rejection around −125 dB.",
                           "The engine of every built-in preset."})),
         B::heading(t("Zavir Iravizeza")),
         B::para(t("The reference-matched engine. For 48 → 44.1 kHz it reproduces a reference "
                   "converter with a stored 147-phase × 110-tap coefficient table and a "
                   "calibrated start phase; without that table installed, a calibrated design "
                   "takes its place.")),
         B::para(t("Every other rate pair uses individually calibrated Kaiser-window "
                   "parameters (58 to 928 taps per phase), with the fractional phase offset "
                   "built into the design.")),
         B::heading(t("SoX VHQ")),
         B::para(t("The SoX resampler library with its very-high-quality recipe, fed and read "
                   "in 64-bit floating point.")),
         B::heading(t("r8brain Free")),
         B::para(t("The r8brain-free resampler in its 24-bit quality mode. When Sonteva was "
                   "built without it, the flagship engine takes its place and a line is "
                   "written to the system log.")),
         B::heading(t("SSRC Shibata")),
         B::para(t("The SSRC converter, run as a separate program over the whole file rather "
                   "than block by block. It needs the ssrc_hp program: beside Sonteva's "
                   "resources, named by the SONTEVA_SSRC variable, or on the PATH.")),
         B::heading(t("Same-rate behaviour")),
         B::bullets(items({"The external engines pass a file whose rate already equals the "
                           "target through bit-identical.",
                           "The in-house engines still run a 1:1 filter pass at equal rates."})),
         B::tip(t("Every engine can be auditioned in real time from the queue — see Preview & "
                  "audition."))});
}

HelpSection helpDither() {
    return section(
        "Dither", "dither",
        {B::para(t("Conversion produces 64-bit values. Cutting them down to 16 or 24 bits "
                   "without dither turns the rounding error into distortion that follows the "
                   "music; dither adds a tiny amount of random noise first, so that the error "
                   "becomes a steady, benign noise floor instead.")),
         B::heading(t("The choices")),
         B::bullets(items({"None — the samples are rounded to the target word length as they "
                           "are.",
                           "TPDF — triangular dither of ±1 LSB, the neutral standard choice.",
                           "Noise Shaping Low / Medium / High — dither whose noise is moved "
                           "towards frequencies where the ear is least sensitive, for 16-bit "
                           "targets. On 24-bit targets these choices give TPDF."})),
         B::heading(t("How it is applied")),
         B::bullets(items({"TPDF is generated inside Sonteva at ±1 LSB of the target word "
                           "length, with an independent, decorrelated sequence per channel.",
                           "Noise shaping runs the whole converted output through SSRC; when "
                           "SSRC is not available the job falls back to TPDF and says so in "
                           "the system log.",
                           "Dither is always the last step, applied once at the exact target "
                           "word length. 32-bit integer and float targets are never dithered."})),
         B::tip(t("Dither exactly once, at the final word-length reduction. If your master is "
                  "already dithered at the same word length, choose None."))});
}

HelpSection helpNaming() {
    return section(
        "Output files & naming", "folder",
        {B::para(t("Each output is named after its source: the source name without its "
                   "extension, then the postfix, then the extension of the chosen format "
                   "(.wav, .aiff or .flac).")),
         B::heading(t("The generated postfix")),
         B::bullets(items({"The postfix is built from the recipe: target rate, bits, "
                           "algorithm and — unless it is None — the dither, for example "
                           "_44k_16b_Sonteva_TPDF.",
                           "Bits read 16b, 24b or 32b for integers and 32fp or 64fp for "
                           "floating point.",
                           "The postfix updates live whenever you change the recipe; text you "
                           "added after the generated part is kept."})),
         B::heading(t("Editing the postfix")),
         B::para(t("The Postfix field is fully editable: type any suffix you like. It is "
                   "frozen into each job when you add it to the queue.")),
         B::heading(t("Destination")),
         B::bullets(items({"Output shows Same as Source by default: each file is written next "
                           "to its source.",
                           "Choose… (Ctrl+Shift+O) picks one folder for all outputs; Reset "
                           "returns to Same as Source.",
                           "The destination is frozen into each job at Add to Queue, like the "
                           "rest of the recipe."})),
         B::tip(t("An existing file of the same name is overwritten without asking. A file "
                  "appears only once it is complete, and a job whose output would replace its "
                  "own source fails instead."))});
}

HelpSection helpQueue() {
    return section(
        "Batch queue", "list",
        {B::para(t("Add to Queue creates one job per source file, each with a frozen copy of "
                   "the current recipe. The queue header counts the jobs and how many are "
                   "still pending.")),
         B::heading(t("Mixing recipes in one batch")),
         B::para(t("Because jobs are snapshots, one batch can mix recipes: queue the sources "
                   "as CD masters, switch to Hi Res, and queue them again.")),
         B::heading(t("Job states")),
         B::bullets(items({"Pending — waiting its turn; the − button removes it.",
                           "Processing — a progress bar and the elapsed seconds.",
                           "Done ✓ — with the total render time, in green.",
                           "Error — the row turns red and shows the reason; the batch carries "
                           "on with the next job."})),
         B::heading(t("Running")),
         B::bullets(items({"Run Batch (Ctrl+R) renders the queue top to bottom, one job at a "
                           "time unless Convert ▸ Parallel Jobs allows more, with the channels "
                           "of each job converted in parallel.",
                           "While a batch runs the button reads Stop (Esc does the same): the "
                           "job in progress is abandoned, nothing of it is left on disk, and it "
                           "stays pending with the jobs after it.",
                           "The status line counts the jobs, estimates the time left and ends "
                           "with \"Batch completed successfully\", \"Batch finished\" or "
                           "\"Batch stopped\" and a summary.",
                           "While a batch runs, sources and jobs cannot be removed; adding "
                           "files, editing the recipe and auditioning stay possible.",
                           "Finished and failed rows stay in the list until you clear the "
                           "queue. A done row's tooltip says where the file is, what ran, its "
                           "levels and its notes; double-click it to open its folder."})),
         B::heading(t("Convert menu options")),
         B::bullets(items({"Compensate Engine Delay — each output starts where the sound starts "
                           "and holds exactly the source's length at the new rate.",
                           "Fail Instead of Substituting — a job whose recipe cannot run exactly "
                           "here (an engine or dither missing, a word length the format cannot "
                           "hold) fails; otherwise what stood in is named in the job's notes.",
                           "Both are frozen into the jobs queued from then on and remembered "
                           "between sessions."}))});
}

HelpSection helpPreview() {
    return section(
        "Preview & audition", "play",
        {B::para(t("The transport under the queue is a live audition: the selected job's "
                   "source plays through the job's own engine, rate and algorithm, converted "
                   "on the fly — what you hear is what will be written.")),
         B::heading(t("Transport")),
         B::bullets(items({"Click a queue row to select it; click the empty space below the "
                           "rows to deselect, which also stops playback.",
                           "Play and pause with the buttons or the space bar.",
                           "Stop returns to the start position; drag the slider to scrub. "
                           "Click the time to switch between elapsed and remaining.",
                           "The pin locks the current position as the playback start for "
                           "every job you play or switch to."})),
         B::heading(t("Switching without a gap")),
         B::para(t("Click another job while playing and Sonteva joins it at the exact position "
                   "reached, cross-fading over ten milliseconds, without stopping.")),
         B::tip(t("The incoming engine is primed with real audio from before the join, so its "
                  "filter is already settled when it becomes audible.")),
         B::heading(t("A/B between engines")),
         B::para(t("Queue the same file twice with two algorithms, start playback and click "
                   "between the two rows to compare them on the same passage.")),
         B::heading(t("Monitor path")),
         B::para(t("The small indicator at the right of the transport shows the output "
                   "device's clock rate. Grey means the preview reaches the device at its own "
                   "rate; amber means the sound server resamples it on the way out. Clicking "
                   "an amber indicator switches the device to the preview's rate; Audio ▸ "
                   "Match Device Rate to Output does it at every press of play.")),
         B::tip(t("A device that runs at a single rate, or whose rate cannot be set (plain "
                  "PulseAudio), stays amber on a mismatch but cannot be switched: pick another "
                  "output to hear the conversion unresampled.")),
         B::heading(t("Notes")),
         B::bullets(items({"Seeking rebuilds the engine state at the new position.",
                           "SSRC Shibata renders the whole file in the background first and "
                           "caches it; playback starts when it is ready.",
                           "The preview never writes into the output folder."}))});
}

HelpSection helpPrecision() {
    return section(
        "Precision & signal path", "chip",
        {B::para(t("Between source and output Sonteva keeps full 64-bit precision. The only "
                   "irreversible step is the final word-length reduction you choose.")),
         B::bullets(
             items({"Decoding goes straight to 64-bit floating point, with no 32-bit float stage.",
                    "Every engine processes in 64-bit floating point.",
                    "Each channel gets its own engine instance, running on its own core.",
                    "Dither is applied once, at the target word length.",
                    "Writing: an encoder library for WAV and AIFF integer and 32-bit float and for "
                    "FLAC, with integer samples computed exactly by Sonteva itself; Sonteva's own "
                    "RIFF writer for 64-bit float WAV; 16-bit FLAC quantised before encoding.",
                    "The external engines' output matches what their stand-alone tools produce."})),
         B::tip(t("The engines are re-verified against reference outputs whenever they are "
                  "touched."))});
}

HelpSection helpShortcuts() {
    return section(
        "Keyboard shortcuts", "keyboard",
        {B::heading(t("Files")),
         B::bullets(items({"Ctrl+O — Add Audio Files…", "Ctrl+Shift+O — Choose Output Folder…"})),
         B::heading(t("Conversion")),
         B::bullets(
             items({"Ctrl+Return — Add to Queue", "Ctrl+R — Run Batch (and Stop while it runs)",
                    "Esc — Stop the running batch", "Ctrl+Shift+S — Save Preset…"})),
         B::heading(t("Preview")),
         B::bullets(items({"Space — Play / pause the selected job (works anywhere "
                           "except while typing in a text field)"})),
         B::heading(t("Help")), B::bullets(items({"F1 or Ctrl+? — Open Help"}))});
}

} // namespace sonteva
