// Counting in-itemset extensions: the items that stand after any position
// of a parent entry within the position's itemset, each counted once per
// entry by its stamp.  A run of equal codes needs no merging here: the
// stamp counts a code once per entry anyway.  On the way the rest of every
// entry (what follows its first position's itemset) is noted for the
// new-itemset counters.
//
// Two ways, the same counts (ChooseStrategies picks one): a step with few
// entries notes the codes it meets and picks the frequent ones among them;
// a step with many entries meets most codes anyway, so it looks at every
// first-level item's row afterwards instead (the rows' stamps tell those
// counted in the step from stale ones).  Data with one item
// per itemset has no in-itemset extension at all: its rests follow from
// the positions and the sequence ends without reading the data.
//
// Tested by tests/integration/test_bruteforce_closed.cpp (both ways forced)
// and tests/unit/test_projdb_project.cpp.
#include <algorithm>

#include "projdb/Counting.h"
#include "projdb/OccurrenceTables.h"
#include "projdb/Positions.h"

size_t ProjWorkspace::CountInItemset(const PROJ_DB* parent, int* start, bool wholeIntra) {
    size_t nRests = 0;
    const int* seqEnd = ds.gSeqEnd;
    int prevFrom = 0;
    // The sequence ends and the rests, held in locals for the whole pass:
    // the stores into the rests could alias the dataset's fields and make
    // every look-up reload them.
    const int* const ends = ds.gSeqEnd;
    const int nEnds = ds.gnSeqEnds;
    const bool hints = !gStrategy.ignoreSeqHints;
    const bool tables = ds.gLastTable != nullptr;
    Rest* const rests = gRests.data();
    long long restWords = 0;
    ITEM_CNT* const table = intra;
    const int base = gStampBase;
    // The sequence that holds word offset `from`: the entry's hint when it
    // is right, else a search.
    auto sequenceAt = [&](int hint, int from) {
        if (hints && (unsigned)hint < (unsigned)nEnds && ends[hint] > from &&
            (hint == 0 || ends[hint - 1] < from))
            return hint;
        return SearchSequence(from, &seqEnd, &prevFrom);
    };
    // Notes the rest after word offset `from` of parent entry `entry`, in
    // sequence `seq`, whose -2 is at offset `end`.  Only the occurrence
    // tables' rows are read by offset in the sequence.
    auto addRest = [&](int entry, int from, int seq, int end) {
        Rest& rest = rests[nRests++];
        rest.entry = entry;
        rest.from = from;
        rest.seq = seq;
        rest.fromInSeq = tables ? from - (seq == 0 ? 0 : ends[seq - 1] + 1) : 0;
        rest.seqEnd = end;
        restWords += end - from;
    };
    // Small data stays in the caches between steps: asking for the lines
    // ahead would only cost instructions there.
    const bool ahead = LargeData(start);
    // One item per itemset: every position is the -1 that ends its itemset.
    for (int i = 0; !gHasContinued && i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        if (ahead && i + kPrefetchAhead < parent->m_nSupport)
            PrefetchSeqEnd(parent->m_pProjSeq[i + kPrefetchAhead]);
        int from = (int)(EntryPosition(entry, 0) - start);
        int seq = sequenceAt(entry.m_nSeq, from);
        int end = ends[seq];
        if (end == from + 1) continue;  // the position's itemset ends the sequence
        addRest(i, from, seq, end);
    }
    for (int i = 0; gHasContinued && i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        int stamp = gStampBase + i + 1;
        if (ahead && i + kPrefetchAhead < parent->m_nSupport) {
            PrefetchEntry(parent->m_pProjSeq[i + kPrefetchAhead]);
            PrefetchSeqEnd(parent->m_pProjSeq[i + kPrefetchAhead]);
        }
        for (int j = 0; j < entry.m_nProjCount; ++j) {
            int* w = EntryPosition(entry, j);
            if (wholeIntra) {
                for (; *w != kItemsetEnd; ++w) ::CountStamped(table[*w], stamp, base);
            } else {
                for (; *w != kItemsetEnd; ++w) CountStamped(intra, gTouchedIntra, *w, stamp);
            }
            if (j == 0 && w[1] != kSequenceEnd) {
                // w is on the -1 that ends the first position's itemset.
                int from = (int)(w - start);
                int seq = sequenceAt(entry.m_nSeq, from);
                addRest(i, from, seq, ends[seq]);
            }
        }
    }
    gRestWords = restWords;
    if (wholeIntra) {
        // No code outside the first level's frequent ones can be frequent.
        // A row counted in this step has a stamp above the step's base; the
        // others hold counts of earlier steps.
        gFreqIntra.clear();
        gFreqIntraCount.clear();
        auto pick = [this](int item) {
            if (intra[item].m_nLastSeq > gStampBase && intra[item].m_nCount >= gSUP) {
                gFreqIntra.push_back(item);
                gFreqIntraCount.push_back(intra[item].m_nCount);
            }
        };
        if (!ds.gFirstLevelItems.empty()) {
            for (int item : ds.gFirstLevelItems) pick(item);
        } else {
            for (int item = 0; item < ds.gN_ITEMS; ++item) pick(item);
        }
    } else {
        PickFrequent(intra, gTouchedIntra, gFreqIntra, gFreqIntraCount);
    }
    return nRests;
}
