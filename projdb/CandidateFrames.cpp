// The stack of candidate frames along the current path.
#include "projdb/CandidateFrames.h"

#include <algorithm>

#include "support/DatasetFormat.h"

// Candidate codes for new-itemset extensions, kept per pattern along the
// current path of the recursion (see the projection steps below).  The
// first-level step leaves one frame: the empty pattern with every frequent
// item.

// The pattern words of a record's parent: without its last item, and
// without the -1 before it when that item began an itemset.
static void ParentPattern(const PROJ_DB* db, const int** words, int* len) {
    if (db->m_nPatLen <= 1) {
        *words = nullptr;
        *len = 0;
        return;
    }
    int n = db->m_nPatLen - 1;
    if (db->m_pnPat[n - 1] == kItemsetEnd) --n;
    *words = db->m_pnPat;
    *len = n;
}

const std::vector<int>* ProjWorkspace::InterCandidates(const PROJ_DB* db) {
    const int* words;
    int len;
    ParentPattern(db, &words, &len);
    while (gFrameCount > 0) {
        const CandidateFrame& f = gFrames[gFrameCount - 1];
        if ((int)f.pattern.size() == len && std::equal(f.pattern.begin(), f.pattern.end(), words))
            return &f.items;
        --gFrameCount;
    }
    return nullptr;
}

void ProjWorkspace::PushCandidates(const PROJ_DB* db, const std::vector<int>& items) {
    if (gFrameCount == gFrames.size()) gFrames.emplace_back();
    CandidateFrame& f = gFrames[gFrameCount++];
    if (db->m_nPatLen == 1) {
        f.pattern.assign(1, db->m_nPatItem);
    } else {
        f.pattern.assign(db->m_pnPat, db->m_pnPat + db->m_nPatLen);
    }
    f.items = items;
}

void ProjWorkspace::StartCandidateFrames(const std::vector<int>& firstLevelItems) {
    if (gFrames.empty()) gFrames.emplace_back();
    gFrames[0].pattern.clear();
    gFrames[0].items = firstLevelItems;
    gFrameCount = 1;
    gItemExtensions.clear();
}

// Where the item's extensions are kept: its place among the first level's
// frequent items, or -1 when it is none of them.
static int FirstLevelIndex(const std::vector<int>& firstLevelItems, int item) {
    auto it = std::lower_bound(firstLevelItems.begin(), firstLevelItems.end(), item);
    return it != firstLevelItems.end() && *it == item ? (int)(it - firstLevelItems.begin()) : -1;
}

void ProjWorkspace::NoteItemExtensions(const PROJ_DB* db) {
    const int k = FirstLevelIndex(ds.gFirstLevelItems, db->m_nLastItem);
    if (k < 0) return;
    if (gItemExtensions.size() < ds.gFirstLevelItems.size())
        gItemExtensions.resize(ds.gFirstLevelItems.size());
    ItemExtensions& e = gItemExtensions[(size_t)k];
    e.known = true;
    e.intra = gFreqIntra;
    e.inter = gFreqInter;
}

// Whether some code of `codes` is in `sorted` (ascending).
static bool AnyIn(const std::vector<int>& codes, const std::vector<int>& sorted) {
    for (int code : codes) {
        if (std::binary_search(sorted.begin(), sorted.end(), code)) return true;
    }
    return false;
}

bool ProjWorkspace::CannotGrow(const PROJ_DB* db, const std::vector<int>* candidates) const {
    if (db->m_nPatLen <= 1) return false;
    const int k = FirstLevelIndex(ds.gFirstLevelItems, db->m_nLastItem);
    if (k < 0 || (size_t)k >= gItemExtensions.size() || !gItemExtensions[(size_t)k].known)
        return false;
    const ItemExtensions& last = gItemExtensions[(size_t)k];
    if (candidates == nullptr) return last.intra.empty() && last.inter.empty();
    // A new-itemset extension is a candidate and follows the last item in a
    // later itemset; an in-itemset one follows it in its itemset, and when
    // the last item began its itemset, the extension alone is a new-itemset
    // extension of the parent, so a candidate too.
    if (AnyIn(*candidates, last.inter)) return false;
    return db->m_bIsIntra ? last.intra.empty() : !AnyIn(*candidates, last.intra);
}
