// Reading and checking quivrel's command line.  A rejected command line is
// reported in an error log of its own, since no run has started.
//
// Tested by tests/unit/test_command_line.cpp and the end-to-end usage_*,
// support_* and itemcount_* cases.
#include "driver/CommandLine.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/Diagnostics.h"
#include "support/Global.h"

static const char kUsageLog[] = "Usage: quivrel <filename> <support> <itemcount>\n";
static const char kUsageStdout[] = "Usage: quivrel  <filename> <support> <itemcount>\n";

static const char kHelp[] =
    "Usage: quivrel [--progress | --quiet] [--threads N] [--part K/M] <filename> <support> "
    "<itemcount>\n"
    "       quivrel merge <out> <part>...\n"
    "Mines the closed sequential patterns of a dataset into ClosedMaxset.txt.\n"
    "\n"
    "  filename    the dataset: 32-bit little-endian words, -1 ends an itemset, -2 a sequence\n"
    "  support     a decimal fraction of the sequences in (0, 1], such as 0.05, or a\n"
    "              percentage such as 5%; a pattern is frequent when its support is at\n"
    "              least support x (number of sequences), computed exactly\n"
    "  itemcount   the largest item code of the dataset, or auto to take it from the data\n"
    "\n"
    "  --progress  show the progress line on standard error even when it is not a terminal\n"
    "  --quiet     no progress line and no closing summary on standard error\n"
    "  --threads N mine with N threads (default 1)\n"
    "  --part K/M  mine only partition K of M and write ClosedMaxset.K-of-M.part\n"
    "  merge       combine the M partial files of a split run into <out>, in the\n"
    "              format of ClosedMaxset.txt\n"
    "  -h, --help  print this help\n";

// Writes one line to the error log "error.tmp" (opened afresh) and to
// standard output, and ends the run with -1.  Used before the run starts.
[[noreturn]] static void RejectCommandLine(const char* logLine, const char* stdoutLine) {
    // The log of a run that has not started: opened, written and closed here.
    Diagnostics log;
    DiagnosticsScope bound(log);
    log.OpenErrorLog();
    LogError("%s", logLine);
    log.CloseErrorLog();
    fputs(stdoutLine, stdout);
    FatalExit(-1);
}

bool ParseItemCount(const char* text, int* itemcount) {
    if (*text == '\0') return false;
    long long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return false;
    }
    *itemcount = (int)value;
    return true;
}

// Reads a whole number from 1 to `max` in decimal digits.
static bool ParseCount(const char* text, int max, int* value) {
    int v;
    if (!ParseItemCount(text, &v) || v < 1 || v > max) return false;
    *value = v;
    return true;
}

// Reads "K/M" with 1 <= K <= M <= kMaxParts.
static bool ParsePart(const char* text, int* part, int* parts) {
    const char* slash = strchr(text, '/');
    if (slash == nullptr || slash - text > 16) return false;
    char k[17];
    memcpy(k, text, (size_t)(slash - text));
    k[slash - text] = '\0';
    return ParseCount(k, kMaxParts, part) && ParseCount(slash + 1, kMaxParts, parts) &&
           *part <= *parts;
}

// The value of an option given as "--name=VALUE" or as "--name VALUE";
// null when it is missing.
static const char* OptionValue(int argc, char** argv, int* i, const char* name) {
    const char* arg = argv[*i];
    size_t n = strlen(name);
    if (arg[n] == '=') return arg + n + 1;
    if (*i + 1 >= argc) return nullptr;
    return argv[++*i];
}

static bool IsOption(const char* arg, const char* name) {
    size_t n = strlen(name);
    return strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
}

bool ParseCommandLine(int argc, char** argv, bool stderrIsTerminal, RunOptions* options) {
    std::vector<char*> positional;
    bool progress = stderrIsTerminal;
    bool quiet = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        // The last branch also takes a positional word, for its own reason.
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {  // NOLINT(bugprone-branch-clone)
            positional.push_back(argv[i]);
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(kHelp, stdout);
            return false;
        } else if (strcmp(arg, "--progress") == 0) {
            progress = true;
            quiet = false;
        } else if (strcmp(arg, "--quiet") == 0) {
            quiet = true;
        } else if (IsOption(arg, "--threads")) {
            const char* value = OptionValue(argc, argv, &i, "--threads");
            if (value == nullptr || !ParseCount(value, kMaxThreads, &options->threads)) {
                char line[512];
                snprintf(line, sizeof line,
                         "Invalid --threads '%.200s': must be a whole number from 1 to %d.\n",
                         value != nullptr ? value : "", kMaxThreads);
                RejectCommandLine(line, line);
            }
        } else if (IsOption(arg, "--part")) {
            const char* value = OptionValue(argc, argv, &i, "--part");
            if (value == nullptr || !ParsePart(value, &options->part, &options->parts)) {
                char line[512];
                snprintf(line, sizeof line,
                         "Invalid --part '%.200s': must be K/M, partition K of M, with whole "
                         "numbers 1 <= K <= M <= %d, such as 2/5.\n",
                         value != nullptr ? value : "", kMaxParts);
                RejectCommandLine(line, line);
            }
        } else if (arg[1] == '-') {
            char line[512];
            snprintf(line, sizeof line,
                     "Unknown option '%.200s': the options are --progress, --quiet, --threads, "
                     "--part and --help.\n",
                     arg);
            RejectCommandLine(line, line);
        } else {
            // A single dash word has always been a positional argument
            // (a negative number, or a file name).
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 3) RejectCommandLine(kUsageLog, kUsageStdout);

    char line[512];
    options->path = positional[0];
    options->supportText = positional[1];
    if (!ParseSupportFraction(positional[1], &options->support)) {
        snprintf(line, sizeof line,
                 "Invalid support '%.200s': must be a decimal number above 0 and at most 1, such "
                 "as 0.05, or a percentage above 0%% and at most 100%%, such as 5%%.\n",
                 positional[1]);
        RejectCommandLine(line, line);
    }
    if (strcmp(positional[2], "auto") == 0) {
        options->itemcount = kItemCountAuto;
    } else if (!ParseItemCount(positional[2], &options->itemcount)) {
        snprintf(line, sizeof line,
                 "Invalid itemcount '%.200s': must be a whole number from 0 to %d in decimal "
                 "digits, or auto.\n",
                 positional[2], INT_MAX);
        RejectCommandLine(line, line);
    }
    options->progress = progress && !quiet;
    options->summary = !quiet;
    return true;
}
