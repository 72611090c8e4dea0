#include "cli/help_texts.h"

#include "model/recipe.h"
#include "sonteva_version.h"

namespace sonteva::cli {

namespace {

QString wrappedNames(const QStringList& names, int indent) {
    QString text;
    int column = indent;
    for (const QString& name : names) {
        const QString quoted = QStringLiteral("\"%1\"").arg(name);
        if (column > indent && column + 1 + quoted.size() > 79) {
            text += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (column > indent) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += quoted;
        column += static_cast<int>(quoted.size());
    }
    return text;
}

QString recipeOptions() {
    return QStringLiteral(
               "Recipe (defaults: 44.1 kHz, 16-bit, \"Sonteva SRC\", \"TPDF\", WAV):\n"
               "  -p, --preset NAME        start from a built-in or user preset; the options\n"
               "                           given with it change that recipe\n"
               "  -r, --rate RATE          44100 48000 88200 96000 176400 192000 352800\n"
               "                           384000, in Hz or as 44.1k, 48k, \"96 kHz\"\n"
               "  -b, --bits DEPTH         16 24 32 32f 64f (also \"24-bit\", \"32-bit FP\")\n"
               "  -a, --algorithm NAME     %1\n"
               "  -d, --dither NAME        %2\n"
               "  -f, --format FORMAT      wav aiff flac\n"
               "Names and formats are matched without regard to case (-a \"sox vhq\",\n"
               "-d tpdf, -f FLAC).\n")
        .arg(wrappedNames(qualityOptions(), 27), wrappedNames(ditherOptions(), 27));
}

QString convertHelp() {
    return QStringLiteral(
               "Usage: sonteva convert [OPTIONS] FILE...\n"
               "       sonteva convert [OPTIONS] --manifest FILE [--shard K/N] [--skip-done]\n"
               "                       [--report FILE]\n"
               "\n"
               "Queues one job per FILE with one recipe and renders them in order. Each output\n"
               "is named after its source: the source's name without its extension, the\n"
               "postfix and the format's extension, next to the source unless -o is given.\n"
               "\n") +
           recipeOptions() +
           QStringLiteral(
               "\n"
               "Options:\n"
               "      --postfix TEXT       name postfix (default: generated from the recipe,\n"
               "                           e.g. _44k_16b_Sonteva_TPDF)\n"
               "  -o, --output-dir DIR     write the outputs there (default: next to each\n"
               "                           source); it must exist and be writable\n"
               "  -n, --no-clobber         skip a job whose output already exists (reported as\n"
               "                           skipped); without it an existing output is replaced\n"
               "                           and its job line says \"replaced\"\n"
               "      --strict             fail a job rather than substitute anything (an\n"
               "                           engine, a dither, a word length) for the recipe\n"
               "      --compensate-delay   trim the engines' filter delay: every output holds\n"
               "                           round(n * out / in) frames, the sound where it was\n"
               "      --json               standard output carries one JSON object per line:\n"
               "                           one per job, one per source that failed to load\n"
               "  -j, --jobs N             render N files at once, 1 to 64 (default: one per\n"
               "                           core); the outputs are the same whatever N\n"
               "  -q, --quiet              print failures only\n"
               "  -h, --help               show this help\n"
               "\n"
               "Catalogue runs (see doc/catalogue.md):\n"
               "      --manifest FILE      one job per line: a source path, then optionally a tab\n"
               "                           and settings (rate=48000 bits=24 preset=\"Hi Res\"\n"
               "                           out=DIR ...); paths relative to the manifest's folder;\n"
               "                           every line is checked before anything runs\n"
               "      --shard K/N          only the jobs of task K of N (K from 0): N tasks\n"
               "                           cover every job exactly once, on any machines\n"
               "      --skip-done          skip jobs whose deliverable this recipe already wrote\n"
               "                           from this source (recorded in <output>.sonteva.json)\n"
               "      --report FILE        append one JSON line per job (safe to share)\n"
               "\n"
               "Standard output carries the results (job lines and the summary, or JSON);\n"
               "load failures, diagnostics and progress go to standard error.\n"
               "\n"
               "Examples:\n"
               "  sonteva convert -r 48k -b 24 -d none mix.wav\n"
               "  sonteva convert -p \"CD Master\" -o delivery/ *.wav\n"
               "  sonteva convert -r44.1k -a \"sox vhq\" -f flac --no-clobber masters/*.wav\n"
               "  sonteva convert --json -r 96k take.wav | jq .\n"
               "  sonteva convert --manifest catalogue.tsv --shard 0/4 --skip-done \\\n"
               "      --report reports/task0.ndjson\n"
               "\n"
               "Exit status: 0 when every job is done or skipped, 1 when a job or a source\n"
               "failed (or nothing could be queued), 2 on a usage error.\n");
}

QString infoHelp() {
    return QStringLiteral(
        "Usage: sonteva info [OPTIONS] FILE...\n"
        "\n"
        "Describes each FILE as a delivery check needs it: container and codec, the exact\n"
        "sample rate, the word length, the channels and their layout, the duration as time\n"
        "and frames, the broadcast extension (description, originator, time reference,\n"
        "coding history), the tags with the ISRC, and the markers.\n"
        "\n"
        "Options:\n"
        "      --levels             also measure the sample peak, the true peak and the\n"
        "                           integrated loudness (reads the whole file)\n"
        "      --json               one JSON object per FILE on standard output\n"
        "  -h, --help               show this help\n"
        "\n"
        "Examples:\n"
        "  sonteva info master.wav\n"
        "  sonteva info --levels --json *.flac | jq '.truePeakDbtp'\n"
        "\n"
        "Exit status: 0 when every file was described, 1 when any could not be read,\n"
        "2 on a usage error.\n");
}

QString presetsHelp() {
    return QStringLiteral(
               "Usage: sonteva presets list [RECIPE OPTIONS]\n"
               "       sonteva presets save [--replace] NAME [RECIPE OPTIONS]\n"
               "       sonteva presets delete NAME\n"
               "\n"
               "The built-in and user presets, shared with the window. \"list\" marks with *\n"
               "the preset the recipe matches. \"save\" stores the recipe (the defaults\n"
               "changed by the options given) as a user preset: a name must not be empty nor\n"
               "that of a built-in preset, and an existing user preset of that name is\n"
               "replaced only with --replace. \"delete\" removes the user preset of that name.\n"
               "\n") +
           recipeOptions() +
           QStringLiteral("\n"
                          "Options:\n"
                          "      --replace            (save) replace a user preset of that name\n"
                          "  -h, --help               show this help\n"
                          "\n"
                          "Examples:\n"
                          "  sonteva presets save \"Client A\" -r 48k -b 24 -d none\n"
                          "  sonteva presets save --replace \"Client A\" -r 96k -b 24\n"
                          "  sonteva presets list -r 48k -b 24\n"
                          "  sonteva presets delete \"Client A\"\n"
                          "\n"
                          "Exit status: 0 on success, 1 when the preset cannot be saved or\n"
                          "deleted, 2 on a usage error.\n");
}

QString enginesHelp() {
    return QStringLiteral("Usage: sonteva engines\n"
                          "\n"
                          "Lists the conversion engines, whether each runs on this machine and\n"
                          "what converts in its place when it cannot.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help               show this help\n"
                          "\n"
                          "Example:\n"
                          "  sonteva engines\n");
}

QString devicesHelp() {
    return QStringLiteral("Usage: sonteva devices\n"
                          "\n"
                          "Lists the output devices of the sound server, the rate each runs at,\n"
                          "the rates it can run at and whether Sonteva can switch it; * marks\n"
                          "the system default.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help               show this help\n"
                          "\n"
                          "Example:\n"
                          "  sonteva devices\n"
                          "\n"
                          "Exit status: 0, or 1 when there is no output device.\n");
}

QString playHelp() {
    return QStringLiteral(
               "Usage: sonteva play [OPTIONS] FILE\n"
               "\n"
               "Auditions one job: FILE converted with the recipe, through exactly the engines\n"
               "that would render it. Space pauses, the arrow keys seek 5 s, q or Ctrl-C\n"
               "quits. SONTEVA_OUTPUT=virtual plays on a clock of its own, without a sound\n"
               "server.\n"
               "\n") +
           recipeOptions() +
           QStringLiteral(
               "\n"
               "Options:\n"
               "      --start SECONDS      start there instead of at the beginning\n"
               "      --match-rate         run the device at the job's rate where it can\n"
               "  -h, --help               show this help\n"
               "\n"
               "Examples:\n"
               "  sonteva play -r 44.1k -b 16 master.wav\n"
               "  sonteva play -a \"SoX VHQ\" --start 90 --match-rate master.wav\n"
               "\n"
               "Exit status: 0 at the end or on q, 130 on Ctrl-C, 1 when the audition cannot\n"
               "start, 2 on a usage error.\n");
}

QString demoHelp() {
    return QStringLiteral(
        "Usage: sonteva demo [DIR]\n"
        "\n"
        "Writes a demo master (96 kHz, 24-bit) into DIR (default: sonteva-demo) and\n"
        "renders it at 44.1 kHz, 16-bit through every engine, with a table of the results.\n"
        "\n"
        "Options:\n"
        "  -h, --help               show this help\n"
        "\n"
        "Example:\n"
        "  sonteva demo /tmp/sonteva-demo\n");
}

QString measureHelp() {
    return QStringLiteral(
        "Usage: sonteva measure -a ENGINE --from HZ -r HZ [--json] [--plot FILE.png]\n"
        "       sonteva measure --all --from HZ -r HZ [--json]\n"
        "\n"
        "Runs engines exactly as a job would, on generated test signals, and reports:\n"
        "passband ripple (20 Hz to 0.9 x the lower Nyquist frequency), the -3 dB point, the\n"
        "response at 0.99 x Nyquist, the worst alias or image (below 0.9 x the output\n"
        "Nyquist frequency, in the whole band, in 20 Hz - 20 kHz), THD+N at -0.1 dBFS, the\n"
        "latency in output frames as measured, the output length against round(n x out / in)\n"
        "and whether the phase is linear. Each figure is printed beside the measurement's\n"
        "own floor; a figure at the floor means \"at least this good\".\n"
        "\n"
        "Options:\n"
        "  -a, --algorithm NAME     one engine: \"Sonteva SRC\" \"Zavir Iravizeza\" \"SoX VHQ\"\n"
        "                           \"r8brain Free\" \"SSRC Shibata\" (any case)\n"
        "      --all                every engine side by side, * marking each column's best;\n"
        "                           engines that cannot run here are named with the reason\n"
        "      --from HZ            the source rate (8000 to 768000)\n"
        "  -r, --rate HZ            the target rate: 44100 48000 88200 96000 176400 192000\n"
        "                           352800 384000 (or 44.1k, 48k, ...)\n"
        "      --json               every figure as one JSON object on standard output\n"
        "      --plot FILE.png      draw the magnitude response (whole band and passband),\n"
        "                           a swept-sine spectrogram and the impulse response\n"
        "  -h, --help               show this help\n"
        "\n"
        "Examples:\n"
        "  sonteva measure -a \"Sonteva SRC\" --from 96000 -r 44.1k\n"
        "  sonteva measure --all --from 192000 -r 48000 --json\n"
        "  sonteva measure -a \"SoX VHQ\" --from 44100 -r 96000 --plot sox.png\n"
        "\n"
        "Exit status: 0 when every engine asked for was measured, 1 when one could not run\n"
        "or its measurement failed, 2 on a usage error.\n");
}

QString reportHelp() {
    return QStringLiteral(
        "Usage: sonteva report [--json] FILE...\n"
        "\n"
        "Merges the NDJSON reports that catalogue runs (convert --report) appended, from\n"
        "any number of tasks and reruns, into one summary: jobs done, skipped and failed\n"
        "(with their reasons), the hours of audio delivered and the wall time. A job counts\n"
        "once, by its last record; a line cut short by a killed task is named and left out.\n"
        "\n"
        "Options:\n"
        "      --json               the summary as one JSON object\n"
        "  -h, --help               show this help\n"
        "\n"
        "Example:\n"
        "  sonteva report reports/*.ndjson\n"
        "\n"
        "Exit status: 0 when no job failed, 1 when one did or a report cannot be read, 2 on\n"
        "a usage error.\n");
}

QString helpHelp() {
    return QStringLiteral("Usage: sonteva help [COMMAND]\n"
                          "\n"
                          "Shows the overview of the commands, or the help of COMMAND (the\n"
                          "same as sonteva COMMAND --help).\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help               show this help\n"
                          "\n"
                          "Example:\n"
                          "  sonteva help convert\n");
}

} // namespace

const std::vector<CommandHelp>& commandHelps() {
    static const std::vector<CommandHelp> table{
        {"convert", "[OPTIONS] FILE...", "render one job per file, in order", &convertHelp},
        {"info", "[--levels] [--json] FILE...", "describe files before delivery", &infoHelp},
        {"presets", "list|save|delete ...", "list, save and delete presets", &presetsHelp},
        {"engines", "", "which engines run, and what stands in", &enginesHelp},
        {"devices", "", "output devices, their rates, switchability", &devicesHelp},
        {"play", "[OPTIONS] FILE", "audition one job", &playHelp},
        {"demo", "[DIR]", "write a demo master and render it", &demoHelp},
        {"measure", "(-a ENGINE | --all) --from HZ -r HZ", "what the engines do to a rate pair",
         &measureHelp},
        {"report", "[--json] FILE...", "merge catalogue reports into one summary", &reportHelp},
        {"help", "[COMMAND]", "show this overview, or a command's help", &helpHelp},
    };
    return table;
}

const CommandHelp* findCommandHelp(const QString& name) {
    for (const CommandHelp& help : commandHelps())
        if (name == QLatin1String(help.name)) return &help;
    return nullptr;
}

QString overviewText() {
    QString text = QStringLiteral("Usage: sonteva COMMAND [OPTIONS] [ARGUMENTS]\n"
                                  "\n"
                                  "Batch sample-rate and word-length conversion for mastering "
                                  "delivery.\n"
                                  "\n"
                                  "Commands:\n");
    for (const CommandHelp& help : commandHelps())
        text += QStringLiteral("  %1 %2\n")
                    .arg(QLatin1String(help.name), -10)
                    .arg(QLatin1String(help.summary));
    text += QStringLiteral("\n"
                           "Options:\n"
                           "  -h, --help     show this overview\n"
                           "      --version  show the version\n"
                           "\n"
                           "Run 'sonteva help COMMAND' or 'sonteva COMMAND --help' for a "
                           "command's options\nand examples.\n");
    return text;
}

QString versionText() {
    return QStringLiteral("sonteva " SONTEVA_PROJECT_VERSION "\n");
}

} // namespace sonteva::cli
