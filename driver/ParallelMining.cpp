// Mining the first-level tasks on several threads (see ParallelMining.h).
//
// The first projection, the occurrence tables and the first-level leaves
// are done on the calling thread before any mining thread starts, so the
// dataset is read-only while the threads run.  A thread's tree holds the
// subtrees of all the tasks it mined, one first-level node each; the
// equivalence table is emptied before each task, so a task never meets a
// node of another.
#include "driver/ParallelMining.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "driver/Progress.h"
#include "driver/TaskPlan.h"
#include "tree/PatternTree.h"

static bool IsExpandable(const ProjWorkspace& proj, const PROJ_DB* r) {
    return (double)r->m_nSupport >= proj.gSUP;
}

int MineInTasks(MiningRun& run, PROJ_DB* records, int count, const TaskSplit& split) {
    ProjWorkspace& proj = run.proj;
    if (count <= 0 || records == nullptr) return 0;
    // Every record gets its entries now, in one pass: the plan sizes the
    // tasks by their entries, and tasks are taken in size order, not in the
    // item order that batches would follow.
    proj.FillFirstLevel(records, count);
    std::vector<MiningTask> tasks = PlanTasks(proj, records, count, split.part, split.parts);
    bool leavesHere = split.parts <= 0 || split.part == 1;
    {
        int firstLevel = (int)tasks.size();
        for (int i = 0; leavesHere && i < count; i++)
            if (!IsExpandable(proj, &records[i])) firstLevel++;
        run.progress.firstTotal.store(firstLevel, std::memory_order_relaxed);
        BumpProgress(run.progress.patterns, (long long)count);
    }

    // The leaves first, as in a run on one thread; the expandable records of
    // other partitions only give their buffers back.
    // A partition counts only its own first-level patterns as met.
    std::vector<char> mined((size_t)count, 0);
    for (const MiningTask& t : tasks) mined[(size_t)t.record] = 1;
    PatternTree& tree = *run.tree;
    int leaves = 0;
    for (int i = 0; i < count; i++) {
        if (IsExpandable(proj, &records[i])) {
            if (!mined[(size_t)i]) {
                proj.release_projdb_buffers(&records[i]);
                proj.gnArrLargeCount[1]--;
            }
        } else {
            if (!leavesHere) proj.gnArrLargeCount[1]--;
            if (leavesHere && addSequence(tree, &records[i]) != 0)
                tree.currentLevel = tree.currentLevel->Parent;
            proj.release_projdb_buffers(&records[i]);
            leaves++;
        }
    }
    run.n_proj_db += (int)tasks.size();
    if (leavesHere) BumpProgress(run.progress.firstDone, leaves);

    size_t threads = std::max<size_t>(1, std::min(tasks.size(), (size_t)std::max(split.threads, 1)));
    std::vector<std::unique_ptr<MiningRun>> workers;
    for (size_t t = 0; t < threads; t++) {
        workers.emplace_back(new MiningRun(run.dataset, nullptr, nullptr));
        MiningRun& w = *workers.back();
        w.proj.InitOver(proj);
        w.Build();
        w.progressOf = &run.progress;
        w.cancel = run.cancel;
    }

    // Tasks are taken largest first from one shared counter.  A failure on
    // one thread (a failed allocation) stops the others at their next task
    // and is rethrown here once all have ended.
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::exception_ptr> errors(threads);
    std::vector<int64_t> taskPeak(tasks.size(), 0);
    std::vector<double> taskTime(tasks.size(), 0);
    auto mine = [&](size_t t) {
        MiningRun& w = *workers[t];
        // The thread's failures go to the run's error log.
        DiagnosticsScope bound(run.diagnostics);
        try {
            for (size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < tasks.size();) {
                PROJ_DB* rec = &records[tasks[k].record];
                if (w.cancel != nullptr && w.cancel->load(std::memory_order_relaxed))
                    w.cancelled = true;
                if (w.cancelled || failed.load(std::memory_order_relaxed)) {
                    // The remaining records only give their buffers back.
                    w.proj.clean_projcted_db(rec);
                    continue;
                }
                w.tree->reverseTable.Clear();
                // The task's own peak, above what the thread held before it.
                int64_t base = w.proj.n_total_mem;
                w.proj.n_max_mem = base;
                auto begin = std::chrono::steady_clock::now();
                PrefixSpan(w, rec);
                std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
                taskPeak[k] = w.proj.n_max_mem - base;
                taskTime[k] = took.count();
                BumpProgress(run.progress.firstDone, 1);
            }
        } catch (...) {
            errors[t] = std::current_exception();
            failed.store(true, std::memory_order_relaxed);
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; t++) pool.emplace_back(mine, t);
    mine(0);
    for (std::thread& th : pool) th.join();
    for (std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);

    // One tree under one root: the tasks' first-level nodes beside the
    // leaves, in child order; the threads' trees stay alive with the run.
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (std::unique_ptr<MiningRun>& w : workers) {
        for (TreeNode* node : *w->tree->root->Children) {
            node->Parent = tree.root;
            top.push_back(node);
        }
        w->tree->root->Children->clear();
        tree.zzz += w->tree->zzz;
        run.n_proj_db += w->n_proj_db;
        run.cancelled = run.cancelled || w->cancelled;
        proj.AddCountsOf(w->proj);
        run.threadTrees.push_back(w->tree);
        w->tree = nullptr;
    }
    std::sort(top.begin(), top.end(), TreeNodeLess);
    // The peak memory: the first projection's, plus the peaks of as many
    // tasks as there were threads, the largest ones.  An upper bound of the
    // real peak that does not depend on which thread mined which task.
    std::sort(taskPeak.begin(), taskPeak.end(), [](int64_t a, int64_t b) { return a > b; });
    for (size_t t = 0; t < threads && t < taskPeak.size(); t++) proj.n_max_mem += taskPeak[t];
    run.tasks = (int)tasks.size();
    for (double t : taskTime) {
        run.taskSeconds += t;
        run.largestTaskSeconds = std::max(run.largestTaskSeconds, t);
    }
    proj.ReleaseRecordsArray(count);
    free(records);
    return (int)tasks.size();
}

void PruneInParallel(MiningRun& run, int threads) {
    PatternTree& tree = *run.tree;
    std::vector<TreeNode*>& top = *tree.root->Children;
    std::vector<PatternTree*> scratch(1, &tree);
    for (PatternTree* t : run.threadTrees) {
        if ((int)scratch.size() >= threads) break;
        scratch.push_back(t);
    }
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> errors(scratch.size());
    auto prune = [&](size_t t) {
        try {
            for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < top.size();)
                closed_maxPruning(*scratch[t], top[i], tree.root);
        } catch (...) {
            errors[t] = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < scratch.size(); t++) pool.emplace_back(prune, t);
    prune(0);
    for (std::thread& th : pool) th.join();
    for (std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}
