// The dataset grammar: one pass, first fault in file order.  The miner runs
// it over the whole file before mining: well-formed data go through eight
// words at a time; data with a fault go through the plain word-by-word walk,
// which names the first one.
#include "support/DatasetFormat.h"

#include <algorithm>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The walk word by word: the first fault in file order, or the shape.
static DatasetFault CheckWordByWord(const int* words, size_t count, const DatasetRules& rules,
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

#if defined(__SSE2__)
// Eight words at a time without a branch on the data: each group yields a
// mask of words that break a rule (compared with the word before each), a
// mask of item words and one of -2 words.  Well-formed data, the common
// case, is checked and measured here in one go; at the first group with a
// fault the word-by-word walk runs over the whole data instead, so that
// faults are always reported by one code path, in file order.  Returns
// false when that walk must run.
static bool CheckByGroups(const int* words, size_t count, const DatasetRules& rules,
                          DatasetShape* shape) {
    DatasetShape facts;
    const __m128i minusOne = _mm_set1_epi32(kItemsetEnd);
    const __m128i minusTwo = _mm_set1_epi32(kSequenceEnd);
    const __m128i maxItem = _mm_set1_epi32(rules.maxItem);
    const __m128i ascending = _mm_set1_epi32(rules.ascendingItemsets ? -1 : 0);
    __m128i largest = _mm_set1_epi32(-1);
    unsigned continued = 0;
    long long itemWords = 0;  // item words of the current sequence
    // The group's four words and the four words before each.
    auto rules4 = [&](__m128i v, __m128i p, unsigned* items, unsigned* ends) {
        const __m128i isItem = _mm_cmpgt_epi32(v, minusOne);
        const __m128i prevItem = _mm_cmpgt_epi32(p, minusOne);
        const __m128i isEnd = _mm_cmpeq_epi32(v, minusTwo);
        const __m128i bothItems = _mm_and_si128(isItem, prevItem);
        __m128i bad = _mm_cmpgt_epi32(v, maxItem);                // an item above the largest code
        bad = _mm_or_si128(bad, _mm_cmplt_epi32(v, minusTwo));    // below -2
        bad = _mm_or_si128(bad, _mm_and_si128(isEnd, prevItem));  // -2 after an item
        bad = _mm_or_si128(bad, _mm_and_si128(_mm_and_si128(bothItems, ascending),
                                              _mm_cmplt_epi32(v, p)));  // a code going down
        // The largest word (a -1 or -2 never beats the start value -1).
        const __m128i more = _mm_cmpgt_epi32(v, largest);
        largest = _mm_or_si128(_mm_and_si128(more, v), _mm_andnot_si128(more, largest));
        continued |= (unsigned)_mm_movemask_ps(_mm_castsi128_ps(bothItems));
        *items = (unsigned)_mm_movemask_ps(_mm_castsi128_ps(isItem));
        *ends = (unsigned)_mm_movemask_ps(_mm_castsi128_ps(isEnd));
        return (unsigned)_mm_movemask_ps(_mm_castsi128_ps(bad));
    };
    // The first word stands after the data's start, which counts as a -2:
    // it is checked on its own, and the groups from word 1 on read the word
    // before each from memory.  The words after the last whole group are
    // checked as the last eight words, with the lanes already seen masked
    // off.  (Shorter data go word by word.)
    if (count < 9) return false;
    if (words[0] < kSequenceEnd || words[0] > rules.maxItem) return false;
    if (words[0] >= 0) itemWords = 1;
    if (words[0] == kSequenceEnd) ++facts.sequences;
    largest = _mm_set1_epi32(std::max(words[0], -1));
    size_t i = 1;
    auto group = [&](size_t at, unsigned keep) __attribute__((always_inline)) {
        unsigned itemsLo, endsLo, itemsHi, endsHi;
        const __m128i vLo = _mm_loadu_si128((const __m128i*)(words + at));
        const __m128i vHi = _mm_loadu_si128((const __m128i*)(words + at + 4));
        const __m128i pLo = _mm_loadu_si128((const __m128i*)(words + at - 1));
        const __m128i pHi = _mm_loadu_si128((const __m128i*)(words + at + 3));
        unsigned bad = rules4(vLo, pLo, &itemsLo, &endsLo) | rules4(vHi, pHi, &itemsHi, &endsHi)
                                                                 << 4;
        unsigned items = (itemsLo | itemsHi << 4) & keep;
        unsigned ends = (endsLo | endsHi << 4) & keep;
        if ((bad & keep) != 0) return false;
        // Item words up to each -2 close its sequence.
        while (ends != 0) {
            const unsigned before = (ends & (0u - ends)) - 1;  // lanes before the -2
            itemWords += __builtin_popcount(items & before);
            facts.maxSeqItemWords = std::max(facts.maxSeqItemWords, itemWords);
            ++facts.sequences;
            itemWords = 0;
            items &= ~before;
            ends &= ends - 1;
        }
        itemWords += __builtin_popcount(items);
        return true;
    };
    for (; i + 8 <= count; i += 8) {
        if (!group(i, 0xFFu)) return false;
    }
    if (i < count && !group(count - 8, 0xFFu << (8 - (count - i)) & 0xFFu)) return false;
    if (words[count - 1] != kSequenceEnd) return false;
    // The largest code, and whether any itemset has two items; the -1 start
    // value of `largest` stands for none.
    int lanes[4];
    _mm_storeu_si128((__m128i*)lanes, largest);
    facts.maxItem = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    facts.hasContinued = continued != 0;
    if (shape != nullptr) *shape = facts;
    return true;
}
#endif

DatasetFault CheckDatasetWords(const int* words, size_t count, const DatasetRules& rules,
                               DatasetShape* shape) {
#if defined(__SSE2__)
    if (CheckByGroups(words, count, rules, shape)) return DatasetFault();
#endif
    return CheckWordByWord(words, count, rules, shape);
}
