// The projection step: grows a projected database by one item, both into
// its last itemset and as a new itemset, and releases the parent's buffers.
//
// A step does work only for the item codes that the parent's entries hold,
// never for the whole code range:
// - the count tables are stamped with a run-wide running stamp (the base of
//   the step plus the 1-based parent entry), so a row whose stamp is not
//   above the step's base is stale, counts as 0 and is reset on first touch
//   instead of by clearing the tables;
// - the codes counted for the first time in a step, or those whose count
//   reaches the threshold, are collected in a list and sorted afterwards
//   (or every first-level item's row is read), and the frequent ones give
//   the children in code order;
// - the index tables hold -1 between steps; a step sets the rows of its
//   frequent codes and puts -1 back into those rows when it ends.
//
// New-itemset extensions are counted by scanning the rest of every entry's
// sequence after the first position's itemset, or, where the data is small
// enough for the last-occurrence table, from the table: an item is in a rest
// when its last word in the sequence lies after the rest's start.  Only the
// frequent items have columns, and no other item can be a frequent
// extension.  The scans have no branch on the data: with few candidate
// codes each rest ORs the bits of its words into a mask, else every code is
// counted (the -1 words into a spare row).  The children of new-itemset
// extensions are filled by one scan of each rest when there are many, or
// item by item when there are few.
//
// The step itself only sequences the work: in-itemset counts (which also
// note the rests, and count their codes where every code would be counted
// without the tables), new-itemset counts, the children in item order, the
// fills.  ChooseStrategies decides which counter and fill run.
//
// Tested by tests/unit/test_projdb_project.cpp and, over whole runs, by
// tests/integration/test_bruteforce_closed.cpp and the fuzz target.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "projdb/CandidateFrames.h"
#include "projdb/Counting.h"
#include "projdb/OccurrenceTables.h"
#include "projdb/Positions.h"
#include "projdb/Strategies.h"

// Makes the child of `parent` grown by `item`, in the parent's last itemset
// or as a new itemset, with `support` empty entry slots.  `items` is the
// child's number of items.  `child` is zero-filled (AllocRecords): no
// entries, key or fingerprint yet.
void ProjWorkspace::MakeChild(PROJ_DB* child, const PROJ_DB* parent, int item, bool isIntra,
                              int support, int items) {
    int parentLen = parent->m_nPatLen;
    int len = parentLen + (isIntra ? 1 : 2);
    int* pat = (int*)checked_alloc(sizeof(int) * (size_t)len);
    if (parentLen == 1) {
        pat[0] = parent->m_nPatItem;
    } else {
        std::memcpy(pat, parent->m_pnPat, sizeof(int) * (size_t)parentLen);
    }
    if (!isIntra) pat[len - 2] = kItemsetEnd;
    pat[len - 1] = item;
    child->m_nPatLen = len;
    child->m_pnPat = pat;
    MemAdd(sizeof(int) * (size_t)len);
    CountLargePattern(items);

    child->maxSupport = support;
    child->m_pProjSeq = AllocEntries(support);
    child->m_nLastSeq = -1;
    child->m_nLastItem = item;
    child->m_bIsIntra = isIntra;
}

// The children of a step until it returns them.  Should the step fail on
// the way (a failed allocation ends the run), the children made so far give
// their buffers back (each child's are counted as they are made), the array
// goes and the index tables get their -1 rows back; the parent keeps its
// buffers, for its owner to release.
struct StepChildren {
    ProjWorkspace& ws;
    PROJ_DB* records;  // null once handed to the caller
    int count;
    ~StepChildren() {
        if (records == nullptr) return;
        for (int i = 0; i < count; ++i) ws.release_projdb_buffers(&records[i]);
        ws.ReleaseRecordsArray(count);
        free(records);
        for (int item : ws.gFreqIntra) ws.intra_freq_idx[item] = -1;
        for (int item : ws.gFreqInter) ws.inter_freq_idx[item] = -1;
    }
};

// Number of items (words that are not -1) of a record's pattern.
static int PatternItems(const PROJ_DB* db) {
    if (db->m_nPatLen == 1) return 1;
    int items = 0;
    for (int i = 0; i < db->m_nPatLen; ++i) {
        if (db->m_pnPat[i] != kItemsetEnd) ++items;
    }
    return items;
}

PROJ_DB* ProjWorkspace::make_projdb_from_projected_db(PROJ_DB* parent, int* count) {
    return ds.HalfWords ? ProjectStep<int16_t>(parent, count) : ProjectStep<int>(parent, count);
}

template <class W>
PROJ_DB* ProjWorkspace::ProjectStep(PROJ_DB* parent, int* count) {
    W* const start = ds.Words<W>();
    W* const end = ds.WordsEnd<W>();
    gDataStart = start;
    gDataEnd = end;
    *count = 0;
    BuildTables();  // already built when the first level came before

    // Stamps of this step are gStampBase + 1 .. gStampBase + m_nSupport;
    // before they could overflow, the tables are cleared and start over.
    if (gStampBase > INT_MAX - parent->m_nSupport - 1) {
        std::fill_n(intra, ds.gN_ITEMS, ITEM_CNT{0, 0});
        std::fill_n(inter, ds.gN_ITEMS, ITEM_CNT{0, 0});
        gStampBase = 0;
    }
    for (Touched* t : {&gTouchedIntra, &gTouchedInter}) {
        // Room for every code, and one more for the store of a code that is
        // not counted as met.
        if (t->codes.size() < (size_t)ds.gN_ITEMS + 1) t->codes.resize((size_t)ds.gN_ITEMS + 1);
        t->n = 0;
    }
    // Room for a rest per entry; trimmed to the rests found below.  (Filled
    // field by field: a whole-record store would be read back too early.)
    // kPrefetchAhead slots more: the passes read the rest that far ahead
    // for its first line without asking whether it is one of this step's
    // (a slot past the last rest holds an earlier rest's offsets or 0, and
    // a prefetch never faults).
    const size_t restSlots = (size_t)parent->m_nSupport + (size_t)kPrefetchAhead;
    if (gRests.size() < restSlots) gRests.resize(restSlots);

    StepFacts facts;
    facts.parentEntries = parent->m_nSupport;
    facts.itemCodes = ds.gN_ITEMS;
    facts.haveTables = ds.gLastTable != nullptr;
    facts.tablesFindMatches = ds.gFillFromTables;
    facts.tableColumns = (long long)ds.gnLastColumns;
    facts.severalItemsPerWalk = ds.gLastTable == nullptr && gHasContinued;
    facts.wideCompares = WideCompares();
    facts.largeData = LargeData(start);
    // Without the tables, on large data, the candidates decide whether the
    // in-itemset pass counts every code too, so they are looked up first.
    const std::vector<int>* candidates = nullptr;
    if (!facts.haveTables &&
        (facts.largeData || gStrategy.count != ProjectionStrategy::kCountAuto)) {
        candidates = InterCandidates(parent);
        facts.candidates = candidates != nullptr ? (long long)candidates->size() : -2;
    }
    // A record whose last item's first-level extensions leave no candidate
    // has no child: the step ends before it reads any data.
    if (parent->m_nPatLen > 1) {
        const std::vector<int>* known = candidates;
        if (known == nullptr) known = InterCandidates(parent);
        if (CannotGrow(parent, known)) {
            clean_projcted_db(parent);
            return nullptr;
        }
    }
    StepStrategies plan = ChooseStrategies(facts, gStrategy);
    AllCodesCount allCodes;
    const bool countInPass = plan.count == ProjectionStrategy::kCountInItemsetPass;
    // (The rests' words are known only after the pass: four per entry
    // stand in for them.)
    if (countInPass) StartAllCodes(&allCodes, (long long)parent->m_nSupport * 4);
    gnRests = CountInItemset(parent, start, plan.wholeIntra, countInPass ? &allCodes : nullptr);

    facts.rests = (long long)gnRests;
    facts.restWords = gRestWords;
    plan = ChooseStrategies(facts, gStrategy);
    if (plan.needCandidates) {
        candidates = InterCandidates(parent);
        facts.candidates = candidates != nullptr ? (long long)candidates->size() : -2;
        plan = ChooseStrategies(facts, gStrategy);
    }
    // The mask and marks counters walk the candidate list; without one the
    // choice never falls on them, and this keeps it so where it is used.
    if (candidates == nullptr && (plan.count == ProjectionStrategy::kCountMask ||
                                  plan.count == ProjectionStrategy::kCountMarks ||
                                  plan.count == ProjectionStrategy::kCountCompares))
        plan.count = ProjectionStrategy::kCountAllCodes;
    // A code counts at most once per rest: with fewer rests than the
    // threshold no new-itemset extension can be frequent, and none is
    // counted.  Patterns whose support lies near the threshold often have
    // that few, as some of their matches end their sequence.
    if (countInPass) {
        PickAllCodes(allCodes);
    } else if ((double)gnRests < gSUP) {
        gFreqInter.clear();
        gFreqInterCount.clear();
    } else {
        switch (plan.count) {
        case ProjectionStrategy::kCountTable:
            CountByTable();
            break;
        case ProjectionStrategy::kCountMask:
            CountByMask(*candidates, start);
            break;
        case ProjectionStrategy::kCountCompares:
            CountByCompares(*candidates, start);
            break;
        case ProjectionStrategy::kCountMarks:
            CountByMarks(*candidates, start);
            break;
        default:
            CountAllCodes(start);
            break;
        }
    }
    gStampBase += parent->m_nSupport;
    if (parent->m_nPatLen == 1) NoteItemExtensions(parent);

    const size_t nIntra = gFreqIntra.size();
    const size_t nInter = gFreqInter.size();
    PROJ_DB* children = nullptr;
    if (nIntra + nInter > 0) {
        *count = (int)(nIntra + nInter);
        children = AllocRecords(*count);
        StepChildren made{*this, children, *count};

        // Children in item order, an item's in-itemset child before its
        // new-itemset child: a merge of the two sorted lists.
        const int items = PatternItems(parent) + 1;
        size_t a = 0, b = 0;
        int k = 0;
        while (a < nIntra || b < nInter) {
            if (b == nInter || (a < nIntra && gFreqIntra[a] <= gFreqInter[b])) {
                int item = gFreqIntra[a];
                MakeChild(&children[k], parent, item, true, gFreqIntraCount[a++], items);
                intra_freq_idx[item] = k++;
            } else {
                int item = gFreqInter[b];
                MakeChild(&children[k], parent, item, false, gFreqInterCount[b++], items);
                inter_freq_idx[item] = k++;
            }
        }

        if (nIntra > 0) FillInItemsetChildren(children, parent, start, end);
        facts.newItemsetChildren = (long long)nInter;
        plan = ChooseStrategies(facts, gStrategy);
        if (nInter > 0) {
            switch (plan.fill) {
            case ProjectionStrategy::kFillTables:
                FillNewItemsetFromTables(children, start, end);
                break;
            case ProjectionStrategy::kFillByItem:
                if (ds.gLastTable == nullptr && gHasContinued) {
                    // No table to skip rests with, and each item's walk
                    // would go on to the sequence's end for further
                    // positions: a few items per walk.  (With one item per
                    // itemset an item's walk ends at its match.)
                    const size_t perWalk = kItemsPerWalk;
                    for (size_t i = 0; i < nInter; i += perWalk)
                        FillNewItemsetByItems(children, gFreqInter.data() + i,
                                              (int)std::min(perWalk, nInter - i), start, end);
                    break;
                }
                for (int item : gFreqInter)
                    FillNewItemsetByItem(&children[inter_freq_idx[item]], item, start, end);
                break;
            default:
                FillNewItemsetByScan(children, start, end);
                break;
            }
        }

        for (int item : gFreqIntra) intra_freq_idx[item] = -1;
        for (int item : gFreqInter) inter_freq_idx[item] = -1;
        PushCandidates(parent, gFreqInter);
        made.records = nullptr;
    }

    // The peak sample covers the parent and all its children.
    clean_projcted_db(parent);
    return children;
}
