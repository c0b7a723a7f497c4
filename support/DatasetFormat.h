// The sequence dataset format, shared by the miner and the companion tools.
//
// A dataset is a headerless stream of 32-bit little-endian signed words.
// Item codes are 0 or more, -1 ends an itemset and -2 ends a sequence; a
// sequence is its itemsets, each followed by -1, then -2 (a lone -2 is an
// empty sequence), and the data ends with a -2.  (1 2)(3) is 1 2 -1 3 -1 -2.
//
// The grammar lives here once: CheckDatasetWords walks the words and
// returns the first fault in file order as a structured value, so that each
// caller words its own message (the miner names the file and word offset,
// the tools their own way).  The miner also asks for the itemsets to be
// ascending and for a largest item code; the tools take any set order.
//
// Tested by tests/unit/test_dataset_format.cpp, and through their messages
// by the malformed_* end-to-end cases and tests/tools/test_convert.cpp.
#ifndef QUIVREL_DATASETFORMAT_H
#define QUIVREL_DATASETFORMAT_H

#include <climits>
#include <cstddef>

const int kItemsetEnd = -1;
const int kSequenceEnd = -2;

inline bool IsItemWord(int word) { return word >= 0; }
inline bool IsItemsetEnd(int word) { return word == kItemsetEnd; }
inline bool IsSequenceEnd(int word) { return word == kSequenceEnd; }
// Whether a word may occur in a dataset at all.
inline bool IsDatasetWord(int word) { return word >= kSequenceEnd; }

// What a grammar check demands beyond the plain word structure.
struct DatasetRules {
    int maxItem = INT_MAX;           // largest item code allowed
    bool ascendingItemsets = false;  // an itemset's codes never go down
};

// The first fault of a word stream, in file order.
struct DatasetFault {
    enum Kind {
        kNone,               // well formed
        kItemAboveMax,       // `value` is above DatasetRules::maxItem
        kItemsetDescending,  // `value` is below `previous`, the code before it
        kMisplacedSequenceEnd,  // a -2 after an item word
        kInvalidValue,       // `value` is below -2
        kUnterminated,       // the data does not end with -2 (offset: word count)
    };
    Kind kind = kNone;
    long long offset = 0;  // word offset of the fault from the start
    int value = 0;         // the faulty word
    int previous = 0;      // the word before it
};

// Facts gathered on the way by a successful check.
struct DatasetShape {
    int maxItem = -1;               // largest item code present, -1 when none
    long long sequences = 0;        // number of sequences (empty ones included)
    long long maxSeqItemWords = 0;  // most item words in one sequence
    bool hasContinued = false;      // some itemset holds more than one item word
};

// Checks `count` words.  `shape`, when given, is filled for well-formed data.
DatasetFault CheckDatasetWords(const int* words, size_t count, const DatasetRules& rules,
                               DatasetShape* shape);

#endif
