// Filling the children of a projection step: each parent entry gives a
// child at most one entry, and a child's entries follow the parent's in
// order.  In-itemset children are filled from the parent's positions.
// New-itemset children are filled one of three ways, all giving the same
// entries (ChooseStrategies picks one):
// - by one scan of each rest for all children, when there are many: one
//   walk finds every child's match and further positions;
// - item by item, when there are few: a child's item is searched for in
//   each rest, and the last-occurrence table skips rests without it;
// - from the occurrence tables, when most items occur once per sequence:
//   a child's match is mostly its first word in the sequence, found with no
//   scan at all.
//
// Tested by tests/integration/test_bruteforce_closed.cpp, which forces each
// fill on data checked against a brute-force miner, by the fuzz target, and
// for single steps by tests/unit/test_projdb_project.cpp.
#include <climits>
#include <cstdint>
#include <vector>

#include "projdb/Counting.h"
#include "projdb/OccurrenceTables.h"
#include "projdb/Positions.h"

// In-itemset extensions after position j of a parent entry: each frequent
// item that stands after the position within its itemset gives its child an
// entry (once per parent entry).  The first position follows the match;
// further ones follow the item in the itemsets of the parent's later
// positions, where that itemset goes on after it.  Inlined into the loop
// over the parent's positions: most calls meet only a word or two.
template <class W>
[[gnu::always_inline]] inline void ProjWorkspace::FillInItemset(PROJ_DB* children, W* start,
                                                                const EntryPositions& positions,
                                                                int j, int seq, int stamp,
                                                                const W* end) {
    for (W* w = EntryPosition(start, positions, j); *w != kItemsetEnd; ++w) {
        W* r = RunEnd(w);
        w = r;
        int item = *r;
        int index = intra_freq_idx[item];
        if (index < 0 || IsLastItem(r)) continue;
        PROJ_DB* child = &children[index];
        if (child->m_nLastSeq >= stamp) continue;
        W* q = r + 1;
        int n = OpenEntry(child, stamp, r, end);
        for (int k = j; k < positions.count; ++k) {
            W* from = k == j ? q : EntryPosition(start, positions, k);
            W* hit = FindInItemset(from, item);
            if (hit != nullptr && hit[1] != kItemsetEnd) PutPosition(n++, hit + 1);
        }
        StoreEntry<W>(child, n, seq);
    }
}

// New-itemset extensions in one rest, by scanning it: the first occurrence
// of each frequent item that is not the sequence's last item gives its child
// an entry.
//
// An entry's further positions follow the later occurrences of its item that
// their itemset continues (the next word is an item); they are collected for
// all children in the same walk.  Data with one item per itemset has no such
// word.
template <class W>
void ProjWorkspace::FillNewItemset(PROJ_DB* children, W* start, const Rest& rest, const W* end) {
    W* w = start + rest.from;
    const int stamp = rest.entry + 1;

    if (!gHasContinued) {
        // One item per itemset: no runs, and an entry has a single position.
        for (++w; *w != kSequenceEnd; ++w) {
            int item = *w;
            if (item < 0) continue;
            int index = inter_freq_idx[item];
            if (index < 0 || IsLastItem(w)) continue;
            PROJ_DB* child = &children[index];
            if (child->m_nLastSeq >= stamp) continue;
            StoreEntry<W>(child, OpenEntry(child, stamp, w, end), rest.seq);
        }
        return;
    }

    // One walk: the first occurrence of a child's item (the last word of its
    // first run) is the child's match; every later occurrence (again the
    // last word of its run) that its itemset continues gives that child a
    // further position.  The positions come out in file order and are then
    // grouped by match with a counting pass.
    gMatches.clear();
    gPending.clear();
    for (++w; *w != kSequenceEnd; ++w) {
        const int item = *w;
        if (item < 0) continue;
        const int index = inter_freq_idx[item];
        if (index < 0) continue;
        PROJ_DB* child = &children[index];
        if (child->m_nLastSeq != stamp) {
            W* r = RunEnd(w);
            w = r;  // the rest of the first run lies before the match
            if (IsLastItem(r)) continue;
            OpenEntry(child, stamp, r, end);  // its positions are stored below
            gMatchOfChild[index] = (int)gMatches.size();
            gMatches.push_back(Match{index, r, 0});
        } else {
            w = RunEnd(w);
            if (w[1] < 0) continue;
            int m = gMatchOfChild[index];
            gPending.push_back(Pending{m, w + 1});
            gMatches[m].count++;
        }
    }
    if (gMatches.empty()) return;

    int placed = 0;
    for (Match& match : gMatches) {
        int count = match.count;
        match.count = placed;  // now the first slot of the match's positions
        placed += count;
    }
    gGrouped.resize(gPending.size());
    for (const Pending& p : gPending) gGrouped[gMatches[p.match].count++] = p.position;
    int from = 0;
    for (const Match& match : gMatches) {
        // match.count is now one past the match's last slot.
        PutPosition(0, static_cast<W*>(match.r) + 1);
        int n = 1;
        for (int k = from; k < match.count; ++k) PutPosition(n++, gGrouped[k]);
        from = match.count;
        StoreEntry<W>(&children[match.child], n, rest.seq);
    }
}

// New-itemset child of `item` filled item by item: in each rest, the first
// occurrence of the item (the last word of its run) gives the entry unless
// it is the sequence's last item, and the later words of the item whose
// itemset goes on give the further positions.  With the last-occurrence
// table, rests without the item are skipped at once and the walk for further
// positions ends at the item's last word.
template <class W>
void ProjWorkspace::FillNewItemsetByItem(PROJ_DB* child, int item, W* start, const W* end) {
#if QUIVREL_WIDE_COMPARES
    if (WideCompares()) return FillNewItemsetByItemWide(child, item, start, end);
#endif
    FillNewItemsetByItemWalk<CodeSearch<1, typename LanesFor<W, 1>::Sse>>(child, item, start, end);
}

#if QUIVREL_WIDE_COMPARES
// The walk with the first occurrence searched for eight words at a time.
template <class W>
QUIVREL_AVX2 void ProjWorkspace::FillNewItemsetByItemWide(PROJ_DB* child, int item, W* start,
                                                          const W* end) {
    FillNewItemsetByItemWalk<CodeSearch<1, typename LanesFor<W, 1>::Avx>>(child, item, start,
                                                                          end);
}
#endif

// Inlined whole into the two functions above, so that with the eight-word
// search it is AVX2 code only there.
template <class Search>
[[gnu::always_inline]] inline void ProjWorkspace::FillNewItemsetByItemWalk(
    PROJ_DB* child, int item, typename Search::Word* start, const typename Search::Word* end) {
    typedef typename Search::Word W;
    const uint16_t* lastColumn = nullptr;
    if (ds.gLastTable != nullptr && ds.gLastColumn[item] >= 0)
        lastColumn = ds.gLastTable + ds.gLastColumn[item];
    const Search one(&item, start);
    const bool large = LargeData(start);
    for (size_t k = 0; k < gnRests; ++k) {
        PrefetchRest(start, k, large);
        const Rest& rest = gRests[k];
        W* seqEnd = start + rest.seqEnd;
        W* lastWord = seqEnd;
        W* w = start + rest.from + 1;
        if (lastColumn != nullptr) {
            const size_t cell = (size_t)rest.seq * ds.gnLastColumns;
            int lastInSeq = lastColumn[cell];
            if (lastInSeq <= rest.fromInSeq) continue;
            lastWord = start + (rest.from - rest.fromInSeq) + lastInSeq;
        }
        w = one.FindIn(w, lastWord);
        if (*w != item) continue;
        W* r = RunEnd(w);
        if (IsLastItem(r)) continue;
        int n = OpenEntry(child, rest.entry + 1, r, end);
        if (gHasContinued) {
            for (W* v = r + 1; v <= lastWord && *v != kSequenceEnd; ++v) {
                if (*v != item) continue;
                v = RunEnd(v);
                if (v[1] >= 0) PutPosition(n++, v + 1);
            }
        }
        StoreEntry<W>(child, n, rest.seq);
    }
}

// New-itemset children of up to kItemsPerWalk items filled in one walk of
// each rest, for data without the last-occurrence table (where the per-item
// fill would walk every rest to its end once per child).  Each item gets
// what FillNewItemsetByItem gives it: its first occurrence in the rest (the
// last word of its run) is the match unless it is the sequence's last item,
// and its later runs whose itemset goes on give further positions.  The
// entries are stored when the rest is done, in the items' order.  A walk
// compares each group of words with as many codes as it has slots (two,
// four, eight or sixteen), so a step with one or two children gets a walk
// of two slots.
template <class W>
void ProjWorkspace::FillNewItemsetByItems(PROJ_DB* children, const int* items, int count,
                                          W* start, const W* end) {
#if QUIVREL_WIDE_COMPARES
    if (WideCompares()) return FillNewItemsetByItemsWide(children, items, count, start, end);
#endif
    if (count <= 2) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 2>::Sse>(children, items, count, start, end);
    } else if (count <= 4) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 4>::Sse>(children, items, count, start, end);
    } else if (count <= 8) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 8>::Sse>(children, items, count, start, end);
    } else {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 16>::Sse>(children, items, count, start,
                                                                 end);
    }
}

#if QUIVREL_WIDE_COMPARES
// The walk eight words at a time.  With the wider groups the compares are a
// larger share of a group's cost, so walks of one or two items compare with
// two codes only (100K 0.001: 3.5% fewer instructions in the walk; one code
// for a single item measured no better).
template <class W>
QUIVREL_AVX2 void ProjWorkspace::FillNewItemsetByItemsWide(PROJ_DB* children, const int* items,
                                                           int count, W* start, const W* end) {
    if (count <= 2) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 2>::Avx>(children, items, count, start, end);
    } else if (count <= 4) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 4>::Avx>(children, items, count, start, end);
    } else if (count <= 8) {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 8>::Avx>(children, items, count, start, end);
    } else {
        FillNewItemsetByItemsWalk<typename LanesFor<W, 16>::Avx>(children, items, count, start,
                                                                 end);
    }
}
#endif

// A rest of up to kShortRestWords words is looked at as a whole: the walk
// group by group stops at every group with a hit and at the rest's end, and
// on rests of a group or two those mispredicted branches are most of its
// cost.  The rest is read as a fixed number of groups instead, group i at
// w + min(i, length - kWords), so that no read passes the -2 and groups that
// overlap set the same bits again; the lanes of group i go to bits at +
// kWords on, which keeps the shifts positive, and the mask is shifted down
// by kWords at the end (dropping the words before w that a rest shorter
// than a group reads; those must not lie before `floor`, the data's first
// word).  Walks of up to kShortRestSlots items take a mask per item, which
// needs no walk at all; more items take one mask of every item's words.
static const int kShortRestSlots = 2;

// Whether [w, last) is a short rest that can be read as a whole.
template <class Lanes>
[[gnu::always_inline]] static inline bool IsShortRest(const typename Lanes::Word* w,
                                                      const typename Lanes::Word* last,
                                                      const typename Lanes::Word* floor) {
    return last - w <= kShortRestWords && last - floor >= Lanes::kWords;
}

// The group of the short rest at w that group i is read as (see above).
template <class Lanes>
[[gnu::always_inline]] static inline int ShortRestGroup(int i, int length) {
    return i < length - Lanes::kWords ? i : length - Lanes::kWords;
}

// Bit i set when w[i] is one of the walk's items, for the short rest
// [w, last).
template <class Lanes>
[[gnu::always_inline]] static inline unsigned ShortRestHits(const Lanes& codes,
                                                            typename Lanes::Word* w,
                                                            typename Lanes::Word* last) {
    const int kWords = Lanes::kWords;
    const int length = (int)(last - w);
    uint64_t seen = 0;
    for (int i = 0; i < kShortRestWords; i += kWords) {
        const int at = ShortRestGroup<Lanes>(i, length);
        seen |= (uint64_t)codes.Lanes(w + at) << (at + kWords);
    }
    return (unsigned)(seen >> kWords);
}

// The short rest [w, last) from a mask per item: when no item occurs in it
// more than once (one run), sets the bits of `matched` and the matches as
// the walk would (the last word of the item's run) and returns true; else
// returns false and leaves both alone, for the walk.
template <class Lanes>
[[gnu::always_inline]] static inline bool ShortRestMatches(const Lanes& codes,
                                                           typename Lanes::Word* w,
                                                           typename Lanes::Word* last,
                                                           typename Lanes::Word** match,
                                                           unsigned* matched) {
    const int kWords = Lanes::kWords;
    const int kSlots = Lanes::kCodeCount;
    const int length = (int)(last - w);
    uint64_t seen[kSlots];
    for (int g = 0; g < kSlots; ++g) seen[g] = 0;
    for (int i = 0; i < kShortRestWords; i += kWords) {
        const int at = ShortRestGroup<Lanes>(i, length);
        for (int g = 0; g < kSlots; ++g)
            seen[g] |= (uint64_t)codes.LanesOf(w + at, g) << (at + kWords);
    }
    unsigned found = 0;
    for (int g = 0; g < kSlots; ++g) {
        const uint64_t m = seen[g] >> kWords;
        if (m == 0) continue;
        const int first = __builtin_ctzll(m);
        const int runLast = first + __builtin_ctzll(~(m >> first)) - 1;
        if ((m >> (runLast + 1)) != 0) return false;  // a later occurrence
        match[g] = w + runLast;
        found |= 1u << g;
    }
    *matched = found;
    return true;
}

// The walk compares each group of Lanes::kWords words with the slots' codes
// at once and then takes the group's hits lane by lane; an item's slot comes
// from its code through gSlotOfCode.  Words of other codes cost only their
// share of a group.  A short rest is read as a whole instead (see
// ShortRestHits).  Inlined whole into the two functions above, so that with
// the eight-word lanes it is AVX2 code only there.
template <class Lanes>
[[gnu::always_inline]] inline void ProjWorkspace::FillNewItemsetByItemsWalk(
    PROJ_DB* children, const int* items, int count, typename Lanes::Word* start,
    const typename Lanes::Word* end) {
    typedef typename Lanes::Word W;
    const int kSlots = Lanes::kCodeCount;
    const int kWords = Lanes::kWords;
    static_assert(kSlots <= kItemsPerWalk, "a walk has a slot per item");
    // Unused slots hold a value that no word has.
    int item[kSlots];
    PROJ_DB* child[kSlots];
    if (gSlotOfCode.size() < (size_t)ds.gN_ITEMS) gSlotOfCode.resize((size_t)ds.gN_ITEMS);
    uint8_t* const slotOf = gSlotOfCode.data();
    for (int g = 0; g < kSlots; ++g) {
        item[g] = g < count ? items[g] : INT_MIN;
        child[g] = g < count ? &children[inter_freq_idx[items[g]]] : nullptr;
        if (g < count) slotOf[items[g]] = (uint8_t)g;
    }
    const Lanes codes(item);
    W* match[kSlots];
    const bool large = LargeData(start);
    for (size_t k = 0; k < gnRests; ++k) {
        PrefetchRest(start, k, large);
        const Rest& rest = gRests[k];
        // Bit g of `matched`: item g has its match in this rest (match[g] is
        // this rest's only then); of `hasFurther`: it has further positions,
        // gFurtherHits[0 .. nFurther - 1] among those of all items.
        unsigned matched = 0, hasFurther = 0;
        size_t nFurther = 0;
        // Takes the hits of the `width` words at w (a group, or a short
        // rest), lane i standing for w[i], and returns where the next group
        // starts.  Inlined by force: left to itself, the compiler made it a
        // call for every group with a hit in the walks of 8 and 16 items.
        auto takeHits = [&](W* w, unsigned lanes, int width) __attribute__((always_inline)) {
            W* next = w + width;
            for (; lanes != 0; lanes &= lanes - 1) {
                W* const hit = w + __builtin_ctz(lanes);
                const int g = slotOf[*hit];
                W* const r = RunEnd(hit);
                if ((matched >> g & 1) == 0) {
                    matched |= 1u << g;
                    match[g] = r;  // the sequence's last item leaves no entry (below)
                } else if (r[1] >= 0) {
                    if (nFurther == gFurtherHits.size()) gFurtherHits.resize(2 * nFurther + 8);
                    gFurtherHits[nFurther++] = FurtherHit{g, r + 1};
                    hasFurther |= 1u << g;
                }
                if (r != hit) {
                    // The other words of a run are no occurrence of their own:
                    // their lanes go, and a run past the group moves the next.
                    if (r - w >= width - 1) return r + 1;
                    lanes &= ~0u << (r - w);
                }
            }
            return next;
        };
        W* const last = start + rest.seqEnd;  // the -2
        W* w = start + rest.from + 1;
        if (IsShortRest<Lanes>(w, last, start)) {
            if (kSlots > kShortRestSlots || !ShortRestMatches(codes, w, last, match, &matched))
                takeHits(w, ShortRestHits(codes, w, last), kShortRestWords);
        } else {
            while (last - w >= kWords) {
                const unsigned lanes = codes.Lanes(w);
                w = lanes == 0 ? w + kWords : takeHits(w, lanes, kWords);
            }
            if (w < last) {
                // Less than a group before `last`.
                takeHits(w, codes.LastLanes(w, last, start), kWords);
            }
        }
        // The entries in the items' order.
        const int stamp = rest.entry + 1;
        const int seq = rest.seq;
        for (; matched != 0; matched &= matched - 1) {
            const int g = __builtin_ctz(matched);
            W* const r = match[g];
            if (IsLastItem(r)) continue;
            PROJ_DB* const db = child[g];
            if ((hasFurther >> g & 1) == 0) {
                // One position, right after the match; `end` is the data's
                // end, from which both the key and the fingerprint count.
                db->m_nLastSeq = stamp;
                AddDistance(db, r, end);
                AppendOnePosition(db, r + 1, seq, end - (r + 1));
                continue;
            }
            int n = OpenEntry(db, stamp, r, end);
            for (size_t f = 0; f < nFurther; ++f) {
                if (gFurtherHits[f].slot == g) PutPosition(n++, gFurtherHits[f].position);
            }
            StoreEntry<W>(db, n, seq);
        }
    }
}

// New-itemset children filled from the two occurrence tables, rest by rest
// so that a sequence's rows are read once for all children: a child's item
// is in the rest when its last word lies after the rest's start; its first
// match after the start is its first word in the sequence when that lies
// after the start too, else it is searched for.  The match (the last word of
// its run) gives the entry unless it is the sequence's last item; later
// words of the item up to its last word, where their itemset goes on, give
// the further positions.  A child's entries still follow the rests in order.
template <class W>
void ProjWorkspace::FillNewItemsetFromTables(PROJ_DB* children, W* start, const W* end) {
    const size_t columns = ds.gnLastColumns;
    const size_t nChildren = gFreqInter.size();
    gChildColumn.resize(nChildren);
    gChildRecord.resize(nChildren);
    for (size_t c = 0; c < nChildren; ++c) {
        gChildColumn[c] = ds.gLastColumn[gFreqInter[c]];
        gChildRecord[c] = &children[inter_freq_idx[gFreqInter[c]]];
    }
    for (size_t r = 0; r < gnRests; ++r) {
        const Rest& rest = gRests[r];
        if (r + kPrefetchAhead < gnRests) {
            size_t ahead = (size_t)gRests[r + kPrefetchAhead].seq * columns;
            PrefetchLine(ds.gLastTable + ahead);
            PrefetchLine(ds.gFirstTable + ahead);
            PrefetchLine(start + gRests[r + kPrefetchAhead].from);
        }
        const uint16_t* lastRow = ds.gLastTable + (size_t)rest.seq * columns;
        const uint16_t* firstRow = ds.gFirstTable + (size_t)rest.seq * columns;
        W* seqStart = start + (rest.from - rest.fromInSeq);
        for (size_t c = 0; c < nChildren; ++c) {
            const int column = gChildColumn[c];
            const int lastInSeq = lastRow[column];
            if (lastInSeq <= rest.fromInSeq) continue;
            const int item = gFreqInter[c];
            const int firstInSeq = firstRow[column];
            W* w;
            if (firstInSeq > rest.fromInSeq) {
                w = seqStart + firstInSeq;
            } else {
                w = start + rest.from + 1;
                while (*w != item) ++w;
            }
            W* match = RunEnd(w);
            if (IsLastItem(match)) continue;
            PROJ_DB* child = gChildRecord[c];
            int n = OpenEntry(child, rest.entry + 1, match, end);
            if (gHasContinued) {
                for (W *v = match + 1, *lastWord = seqStart + lastInSeq; v <= lastWord; ++v) {
                    if (*v != item) continue;
                    v = RunEnd(v);
                    if (v[1] >= 0) PutPosition(n++, v + 1);
                }
            }
            StoreEntry<W>(child, n, rest.seq);
        }
    }
}

// On large data the entries' lines have left the caches since the
// in-itemset pass read them, and the fill waited on each entry's first
// word: the entry kPrefetchAhead further on asks for its data (1M 0.001:
// 1.85 G cycles in these fills instead of 2.52 G).
template <class W>
void ProjWorkspace::FillInItemsetChildren(PROJ_DB* children, const PROJ_DB* parent, W* start,
                                          const W* end) {
    const int aheadBelow = LargeData(start) ? parent->m_nSupport - kPrefetchAhead : 0;
    for (int i = 0; i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        if (i < aheadBelow) PrefetchEntry(*parent, parent->m_pProjSeq[i + kPrefetchAhead], start);
        const EntryPositions positions = PositionsOf(*parent, entry);
        for (int j = 0; j < positions.count; ++j)
            FillInItemset(children, start, positions, j, entry.m_nSeq, i + 1, end);
    }
}

template <class W>
void ProjWorkspace::FillNewItemsetByScan(PROJ_DB* children, W* start, const W* end) {
    if (gMatchOfChild.size() < gFreqIntra.size() + gFreqInter.size())
        gMatchOfChild.resize(gFreqIntra.size() + gFreqInter.size());
    const bool large = LargeData(start);
    for (size_t r = 0; r < gnRests; ++r) {
        PrefetchRest(start, r, large);
        FillNewItemset(children, start, gRests[r], end);
    }
}

// The fills of both widths of words.
#define QUIVREL_FILLS_OF_WIDTH(W)                                                                 \
    template void ProjWorkspace::FillInItemsetChildren<W>(PROJ_DB*, const PROJ_DB*, W*,           \
                                                          const W*);                            \
    template void ProjWorkspace::FillNewItemsetByScan<W>(PROJ_DB*, W*, const W*);                 \
    template void ProjWorkspace::FillNewItemsetByItem<W>(PROJ_DB*, int, W*, const W*);            \
    template void ProjWorkspace::FillNewItemsetByItems<W>(PROJ_DB*, const int*, int, W*,          \
                                                          const W*);                            \
    template void ProjWorkspace::FillNewItemsetFromTables<W>(PROJ_DB*, W*, const W*);
QUIVREL_FILLS_OF_WIDTH(int)
QUIVREL_FILLS_OF_WIDTH(int16_t)
#undef QUIVREL_FILLS_OF_WIDTH
