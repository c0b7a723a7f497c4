// The dataset grammar: one pass, first fault in file order.  The miner runs
// it over the whole file before mining, so the loop stays a plain walk with
// the previous word as its only state.
#include "support/DatasetFormat.h"

#include <algorithm>

DatasetFault CheckDatasetWords(const int* words, size_t count, const DatasetRules& rules,
                               DatasetShape* shape) {
    DatasetFault fault;
    DatasetShape facts;
    long long itemWords = 0;  // item words of the current sequence
    int prev = kSequenceEnd;  // the data starts as if after a sequence end
    for (size_t i = 0; i < count; ++i) {
        const int value = words[i];
        if (IsItemWord(value)) {
            if (value > rules.maxItem) fault.kind = DatasetFault::kItemAboveMax;
            // Itemsets are sets listed in ascending order for the miner: its
            // scans match an itemset word by word and take a run of equal
            // codes as one occurrence, so a code below the one before it
            // would make the same pattern count twice under two spellings.
            else if (rules.ascendingItemsets && IsItemWord(prev) && value < prev)
                fault.kind = DatasetFault::kItemsetDescending;
            facts.maxItem = std::max(facts.maxItem, value);
            ++itemWords;
            if (IsItemWord(prev)) facts.hasContinued = true;
        } else if (IsSequenceEnd(value)) {
            // Either an empty sequence (after another -2 or at the start) or
            // the end of the last itemset.
            if (!IsItemsetEnd(prev) && !IsSequenceEnd(prev)) {
                fault.kind = DatasetFault::kMisplacedSequenceEnd;
            } else {
                ++facts.sequences;
                facts.maxSeqItemWords = std::max(facts.maxSeqItemWords, itemWords);
                itemWords = 0;
            }
        } else if (!IsItemsetEnd(value)) {
            fault.kind = DatasetFault::kInvalidValue;
        }
        if (fault.kind != DatasetFault::kNone) {
            fault.offset = (long long)i;
            fault.value = value;
            fault.previous = prev;
            return fault;
        }
        prev = value;
    }
    if (!IsSequenceEnd(prev)) {
        fault.kind = DatasetFault::kUnterminated;
        fault.offset = (long long)count;
        fault.previous = prev;
        return fault;
    }
    if (shape != nullptr) *shape = facts;
    return fault;
}
