// The dataset check: one pass over the whole file before anything else,
// through the shared grammar (support/DatasetFormat), with the miner's own
// rules (item codes up to the item count, ascending itemsets) and messages
// that name the file and the word offset.  Everything after it relies on
// well-formed data and does no checks of its own in the hot loops.
//
// Tested by the malformed_* end-to-end cases and
// tests/unit/test_projdb_init.cpp.
#include <climits>
#include <cstdarg>
#include <cstdio>

#include "projdb/ProjDBSetup.h"
#include "support/Global.h"

[[noreturn]] static __attribute__((format(printf, 1, 2))) void RejectDataset(
    const char* format, ...) {
    char text[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogError("%s", text);
    FatalExit(1);
}

// One pass over the usable data of the mapped file: rejects a malformed file
// (first fault in file order) and records the shape of a good one.
void ProjWorkspace::ValidateDataset(const char* path, int itemcount) {
    long long size = GetMemMapFileSize(ds.pDatasetMemMap);
    if (size % 4 != 0) {
        RejectDataset("Malformed dataset '%s': size of %lld bytes is not a multiple of 4.\n",
                      path, size);
    }
    // Positions are kept as int word offsets by the projection steps.
    if (size / 4 > (long long)INT_MAX) {
        RejectDataset("Dataset '%s' holds %lld words, more than the %d words that can be "
                      "mined in one run.\n",
                      path, size / 4, INT_MAX);
    }
    const int* start = GetStartOfMap(ds.pDatasetMemMap);
    const int* end = GetLastAddrOfMap(ds.pDatasetMemMap);

    DatasetRules rules;
    rules.maxItem = itemcount;
    rules.ascendingItemsets = true;
    DatasetShape shape;
    const DatasetFault fault = CheckDatasetWords(start, (size_t)(end - start), rules, &shape);
    const long long at = fault.offset;
    switch (fault.kind) {
    case DatasetFault::kNone:
        break;
    case DatasetFault::kItemAboveMax:
        RejectDataset("Malformed dataset '%s': item code %d at word %lld is above "
                      "the item count %d.\n",
                      path, fault.value, at, itemcount);
    case DatasetFault::kItemsetDescending:
        RejectDataset("Malformed dataset '%s': item code %d at word %lld is lower than "
                      "the code %d before it; the items of an itemset must be "
                      "ascending. Rewrite the file with sorted itemsets: "
                      "quivrel-convert totext '%s' | quivrel-convert tobin - OUT.bin\n",
                      path, fault.value, at, fault.previous, path);
    case DatasetFault::kMisplacedSequenceEnd:
        RejectDataset("Malformed dataset '%s': sequence end -2 at word %lld does not "
                      "follow an itemset end -1.\n",
                      path, at);
    case DatasetFault::kInvalidValue:
        RejectDataset("Malformed dataset '%s': invalid value %d at word %lld (only item "
                      "codes, -1 and -2 may occur).\n",
                      path, fault.value, at);
    case DatasetFault::kUnterminated:
        RejectDataset("Malformed dataset '%s': the data does not end with -2 (the last "
                      "sequence is not terminated).\n",
                      path);
    }
    gHasContinued = shape.hasContinued;
    ds.gDatasetShape = shape;
}
