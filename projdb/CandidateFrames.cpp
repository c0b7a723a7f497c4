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
}
