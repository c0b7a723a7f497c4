// quivrel's command line: options, the three positional arguments and their
// checks.
//
//   quivrel [--progress | --quiet] [--threads N] [--part K/M]
//           <filename> <support> <itemcount | auto>
//   quivrel merge <out> <part>...
//   quivrel --help
//
// Options are recognised anywhere before a "--"; any other word is a
// positional argument, so a command line without options is read exactly as
// it always was.
#ifndef QUIVREL_COMMANDLINE_H
#define QUIVREL_COMMANDLINE_H

#include "support/SupportFraction.h"

// Item count that InitApp takes from the data (the word "auto").
const int kItemCountAuto = -1;

struct RunOptions {
    const char* path = nullptr;
    const char* supportText = nullptr;
    SupportFraction support{};
    int itemcount = 0;          // 0..INT_MAX, or kItemCountAuto
    bool progress = false;      // show the progress line on standard error
    bool summary = true;        // print the closing summary line on standard error
    int threads = 1;            // mining threads (--threads)
    int part = 0;               // partition mined, 1 to parts (--part K/M); 0: all
    int parts = 0;
};

// Largest value of --threads and of M in --part K/M.
const int kMaxThreads = 1024;
const int kMaxParts = 1000000;

// Reads the command line.  Returns true with `options` filled when a run
// should follow, false after printing the help (exit status 0).  A wrong
// count of positional arguments or a value that does not fit ends the run
// through FatalExit(-1), with the message in "error.tmp" and on standard
// output.  `stderrIsTerminal` decides the progress line when no option does.
bool ParseCommandLine(int argc, char** argv, bool stderrIsTerminal, RunOptions* options);

// Reads an item count: decimal digits only, from 0 to INT_MAX.
bool ParseItemCount(const char* text, int* itemcount);

#endif
