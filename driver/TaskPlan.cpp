// Planning the first-level tasks (see TaskPlan.h).
#include "driver/TaskPlan.h"

#include <algorithm>

// The words a task's projections start from: each entry's rest after its
// first position.  The deeper steps scan these rests, so the sum orders the
// tasks by the work they are likely to need.
long long EstimateTaskWork(const ProjWorkspace& proj, const PROJ_DB* r) {
    const Dataset& ds = proj.ds;
    if (ds.gSeqEnd == nullptr) return r->m_nSupport;
    long long words = 0;
    for (int i = 0; i < r->m_nSupport; i++) {
        const PROJ_SEQ& e = r->m_pProjSeq[i];
        const long long pos = PositionsOf(*r, e).offsets[0];
        // A first-level hint is exact: the sequence's -2, or its number.
        if (e.m_nSeq < 0) {
            words += ~e.m_nSeq - pos;
        } else if (e.m_nSeq < ds.gnSeqEnds) {
            words += ds.gSeqEnd[e.m_nSeq] - pos;
        }
    }
    return words;
}

std::vector<MiningTask> PlanTasks(const ProjWorkspace& proj, const PROJ_DB* records, int count,
                                  int part, int parts) {
    std::vector<MiningTask> tasks;
    for (int i = 0; i < count; i++) {
        if ((double)records[i].m_nSupport >= proj.gSUP)
            tasks.push_back(MiningTask{i, EstimateTaskWork(proj, &records[i])});
    }
    // Ties in record order (a plain sort with the record as tie-break: the
    // buffer of std::stable_sort comes from the nothrow operator new, which
    // the program does not replace).
    std::sort(tasks.begin(), tasks.end(), [](const MiningTask& a, const MiningTask& b) {
        return a.size != b.size ? a.size > b.size : a.record < b.record;
    });
    if (parts <= 0) return tasks;
    std::vector<long long> load((size_t)parts, 0);
    std::vector<MiningTask> mine;
    for (const MiningTask& t : tasks) {
        size_t least = (size_t)(std::min_element(load.begin(), load.end()) - load.begin());
        load[least] += t.size + 1;  // +1: even empty estimates spread out
        if ((int)least == part - 1) mine.push_back(t);
    }
    return mine;
}

std::vector<char> TasksToSplit(const std::vector<MiningTask>& tasks, int threads, double share) {
    std::vector<char> split(tasks.size(), 0);
    if (threads <= 1) return split;
    // The estimates count words to scan once; the deeper steps rescan them,
    // so the largest tasks take a larger share of the time than of the
    // estimates (2 to 7 times on the benchmark rows).  A tenth of a
    // thread's share splits the tasks that stood out there.
    if (share < 0) share = 1.0 / (10.0 * threads);
    long long total = 0;
    for (const MiningTask& t : tasks) total += t.size;
    for (size_t i = 0; i < tasks.size(); i++)
        split[i] = (double)tasks[i].size > share * (double)total;
    return split;
}
