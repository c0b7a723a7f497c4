// Counting in-itemset extensions: the items that stand after any position
// of a parent entry within the position's itemset, each counted once per
// entry by its stamp.  A run of equal codes needs no merging here: the
// stamp counts a code once per entry anyway.  On the way the rest of every
// entry (what follows its first position's itemset) is noted for the
// new-itemset counters.
//
// Two ways, the same counts (ChooseStrategies picks one): a step with few
// entries notes each code as its count reaches the threshold (once per
// step, as counts only grow within it) and picks those;
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

template <class W>
size_t ProjWorkspace::CountInItemset(const PROJ_DB* parent, W* start, bool wholeIntra,
                                     AllCodesCount* countAll) {
    return countAll != nullptr ? CountInItemsetPass<true>(parent, start, wholeIntra, countAll)
                               : CountInItemsetPass<false>(parent, start, wholeIntra, nullptr);
}

// The pass with (kCountAll) and without the every-code count, each without
// a test for it per entry.
template <bool kCountAll, class W>
size_t ProjWorkspace::CountInItemsetPass(const PROJ_DB* parent, W* start, bool wholeIntra,
                                         AllCodesCount* countAll) {
    const int* seqEnd = ds.gSeqEnd;
    int prevFrom = 0;
    // The sequence ends, the rests, the entries and the codes met, held in
    // locals for the whole pass: the stores into the rests and the count
    // rows could alias the workspace's and the dataset's fields and make
    // every look-up reload them.
    const int* const ends = ds.gSeqEnd;
    // A hint is tried only below this (0 when the hints are to be ignored).
    const unsigned hintLimit = gStrategy.ignoreSeqHints ? 0u : (unsigned)ds.gnSeqEnds;
    const bool tables = ds.gLastTable != nullptr;
    Rest* const rests = gRests.data();
    Rest* nextRest = rests;  // the slot of the next rest noted
    long long restWords = 0;
    ITEM_CNT* const table = intra;
    const int base = gStampBase;
    const PROJ_SEQ* const entries = parent->m_pProjSeq;
    const int nEntries = parent->m_nSupport;
    // Where the rest after word offset `from` lies: the sequence that holds
    // it, its -2 and the previous sequence's -2 (-1 before the first
    // sequence).  A hint that names the sequence by number is taken when
    // that sequence's -2 lies after `from` and the previous one's before.
    // A hint that holds the -2 itself (only without the tables, which need
    // the number and the previous -2) is taken when it points at a -2 after
    // `from`: the fills give it only from the exact end of the parent's
    // rest, and it spares a look-up in the sequence ends, a cache miss per
    // entry on large data.  Else a search finds the sequence.
    struct Place {
        int seq, end, before;
    };
    const bool endHints = !tables && hintLimit > 0;
    const int dataWords = (int)(static_cast<const W*>(gDataEnd) - start);
    auto placeOf = [&](int hint, int from) {
        Place p{hint, 0, -1};
        if (hint < 0) {
            p.end = ~hint;
            if (endHints && p.end > from && p.end < dataWords && start[p.end] == kSequenceEnd)
                return p;
        } else if ((unsigned)hint < hintLimit && (p.end = ends[hint]) > from &&
                   (hint == 0 || (p.before = ends[hint - 1]) < from)) {
            return p;
        }
        p.seq = SearchSequence(from, &seqEnd, &prevFrom);
        p.end = ends[p.seq];
        p.before = p.seq == 0 ? -1 : ends[p.seq - 1];
        return p;
    };
    // The every-code count, by a copy of the caller's counter held here: the
    // stores into the count rows could alias the caller's and make every
    // word reload its fields.
    AllCodesCount all;
    if (kCountAll) all = *countAll;
    // Notes the rest of parent entry `i` after word offset `from`.  Its
    // offset in the sequence is stored only for the occurrence tables, its
    // only readers.  With kCountAll the rest's codes are counted too, while
    // its first line is still in the cache.
    auto addRest = [&](int i, int from, const Place& p) {
        Rest& rest = *nextRest++;
        rest.entry = i;
        rest.from = from;
        rest.seq = tables ? p.seq : ~p.end;
        rest.seqEnd = p.end;
        if (tables) rest.fromInSeq = from - (p.before + 1);
        restWords += p.end - from;
        if (kCountAll) all.Rest(start + from + 1, p.end - from - 1, base + i + 1);
    };
    // Small data stays in the caches between steps: asking for the lines
    // ahead would only cost instructions there.  Entries below this index
    // ask for the data of the entry kPrefetchAhead further on.
    const int aheadBelow = LargeData(start) ? nEntries - kPrefetchAhead : 0;
    // Counting the rests too, the pass reads each whole rest: the entry
    // kRestPrefetchAhead further on asks for its rest's lines, up to the -2
    // that its end hint holds (a single position and an end hint only; a
    // hint is not checked here, so at most kRestPrefetchLines lines).
    const int restsAheadBelow =
        kCountAll && LargeData(start) ? nEntries - (int)kRestPrefetchAhead : 0;
    auto prefetchRest = [&](const PROJ_SEQ& entry) {
        if (entry.m_nSeq >= 0 || entry.m_nPos >= kSeveralPositions) return;
        const char* line = (const char*)(start + entry.m_nPos);
        const char* last = (const char*)(start + ~entry.m_nSeq);
        int n = 0;
        for (; line < last && n < kRestPrefetchLines; line += 64, ++n) PrefetchLine(line);
        if (n < kRestPrefetchLines) PrefetchLine(last);
    };
    // The sequence end that an entry's hint names or holds (when the hints
    // are used), asked for ahead like the entry's data: on large data each
    // look-up would otherwise miss the cache.
    auto prefetchSeqEnd = [&](const PROJ_SEQ& entry) {
        if (entry.m_nSeq < 0) {
            PrefetchLine(start + ~entry.m_nSeq);
        } else if ((unsigned)entry.m_nSeq < hintLimit) {
            PrefetchLine(ends + entry.m_nSeq);
        }
    };
    if (!gHasContinued) {
        // One item per itemset: every position is the -1 that ends its
        // itemset, and there is no in-itemset code to count.
        for (int i = 0; i < nEntries; ++i) {
            const PROJ_SEQ& entry = entries[i];
            if (i < aheadBelow) prefetchSeqEnd(entries[i + kPrefetchAhead]);
            if (i < restsAheadBelow) prefetchRest(entries[i + kRestPrefetchAhead]);
            const int from = (int)PositionsOf(*parent, entry).offsets[0];
            const Place p = placeOf(entry.m_nSeq, from);
            if (p.end == from + 1) continue;  // the position's itemset ends the sequence
            addRest(i, from, p);
        }
    } else {
        // The codes whose count reaches the threshold in this pass (unless
        // every first-level item's row is read afterwards): each says so
        // once, so only these few are picked from afterwards.
        int* const reached = gTouchedIntra.codes.data();
        size_t nReached = gTouchedIntra.n;
        const int least = LeastFrequentCount(gSUP);
        // Counts the codes from w up to the -1 that ends its itemset; returns
        // that -1.
        auto countItemset = [&](W* w, int stamp) {
            if (wholeIntra) {
                for (; *w != kItemsetEnd; ++w) ::CountStamped(table[*w], stamp, base);
            } else {
                for (; *w != kItemsetEnd; ++w) {
                    if (CountStampedReaches(table[*w], stamp, base, least)) reached[nReached++] = *w;
                }
            }
            return w;
        };
        for (int i = 0; i < nEntries; ++i) {
            const PROJ_SEQ& entry = entries[i];
            const int stamp = base + i + 1;
            if (i < aheadBelow) {
                PrefetchEntry(*parent, entries[i + kPrefetchAhead], start);
                prefetchSeqEnd(entries[i + kPrefetchAhead]);
            }
            if (i < restsAheadBelow) prefetchRest(entries[i + kRestPrefetchAhead]);
            const EntryPositions positions = PositionsOf(*parent, entry);
            // The first position's itemset, then its rest, then the
            // itemsets of the further positions.
            W* w = countItemset(start + positions.offsets[0], stamp);
            if (w[1] != kSequenceEnd) {
                const int from = (int)(w - start);
                addRest(i, from, placeOf(entry.m_nSeq, from));
            }
            for (int j = 1; j < positions.count; ++j) countItemset(start + positions.offsets[j], stamp);
        }
        gTouchedIntra.n = nReached;
    }
    gRestWords = restWords;
    if (kCountAll) *countAll = all;
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
    return (size_t)(nextRest - rests);
}

template size_t ProjWorkspace::CountInItemset<int>(const PROJ_DB*, int*, bool, AllCodesCount*);
template size_t ProjWorkspace::CountInItemset<int16_t>(const PROJ_DB*, int16_t*, bool,
                                                       AllCodesCount*);
