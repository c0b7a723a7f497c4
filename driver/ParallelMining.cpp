// Mining the first-level tasks on several threads (see ParallelMining.h).
//
// The first projection, the occurrence tables and the first-level leaves
// are done on the calling thread before any mining thread starts, so the
// dataset is read-only while the threads run.  A thread's tree holds the
// subtrees of all the tasks it mined, one first-level node each (or, for
// the children of a split first-level task, one stand-in node per split
// task); the equivalence table is emptied before each task, so a task
// never meets a node of another.
#include "driver/ParallelMining.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "driver/Progress.h"
#include "driver/TaskPlan.h"
#include "tree/PatternTree.h"

static bool IsExpandable(const ProjWorkspace& proj, const PROJ_DB* r) {
    return (double)r->m_nSupport >= proj.gSUP;
}

// Starts body(1) .. body(n - 1) on threads of their own, as many as the
// system lets start.  A thread that cannot start (no room for its stack, a
// limit on threads) is no failure: the work is taken from a shared counter,
// so its share goes to the threads that run, the calling thread (body(0))
// at least, and the result is the same.  Any other failure (a failed
// allocation) is returned; the threads started so far run on and the caller
// joins them either way.
template <class Body>
static std::exception_ptr StartThreads(std::vector<std::thread>& pool, size_t n, Body& body) {
    try {
        pool.reserve(n > 1 ? n - 1 : 0);
        for (size_t t = 1; t < n; t++) pool.emplace_back(body, t);
    } catch (const std::system_error&) {
        // Carry on with the threads that did start.
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// A first-level task handed out one level deeper: its node, in the first
// thread's tree, and its children's records.
struct SplitHead {
    TreeNode* node;
    PROJ_DB* children;
    int count;
};

// One task for the threads: a first-level record (head -1), or an
// expandable child of split head `head`.
struct WorkItem {
    int head;
    PROJ_DB* record;
    long long size;  // estimated work
    int order;       // met in this order: ties of size
};

// The own step of a split first-level record, on run w's tree with an
// emptied table, as the growth would do it: the node is inserted, the
// record projected one item further, the leaf children inserted under the
// node, and the expandable children added to `work` as tasks of head
// `index`.  A head without children is returned with a null array; one that
// was not inserted (cancelled) with a null node.
static SplitHead StepHead(MiningRun& w, PROJ_DB* rec, int index, std::vector<WorkItem>& work) {
    ProjWorkspace& proj = w.proj;
    PatternTree& tree = *w.tree;
    SplitHead head{nullptr, nullptr, 0};
    tree.reverseTable.Clear();
    tree.currentLevel = tree.root;
    if (w.cancel != nullptr && w.cancel->load(std::memory_order_relaxed)) w.cancelled = true;
    // An emptied table has no equivalent for a first-level pattern.
    if (w.cancelled || addSequence(tree, rec) == 0) {
        proj.clean_projcted_db(rec);
        return head;
    }
    head.node = tree.currentLevel;
    int count = 0;
    PROJ_DB* children = proj.make_projdb_from_projected_db(rec, &count);
    if (count > 0) {
        BumpProgress(w.progressOf->patterns, (long long)count);
        head.children = children;
        head.count = count;
    }
    try {
        for (int i = 0; i < count; i++) {
            PROJ_DB* child = &children[i];
            if (IsExpandable(proj, child)) {
                w.n_proj_db++;
                work.push_back(
                    WorkItem{index, child, EstimateTaskWork(proj, child), (int)work.size()});
            } else {
                proj.release_projdb_buffers(child);
                if (addSequence(tree, child) != 0) tree.currentLevel = tree.currentLevel->Parent;
            }
        }
    } catch (...) {
        // A failed insertion or task (a failed allocation): the head is not
        // returned, so its tasks leave `work` and its children go here.
        while (!work.empty() && work.back().head == index) work.pop_back();
        for (int i = 0; i < count; i++) proj.release_projdb_buffers(&children[i]);
        proj.ReleaseRecordsArray(count);
        free(children);
        tree.currentLevel = tree.root;
        throw;
    }
    tree.currentLevel = tree.root;
    return head;
}

// What the batches of one run share: the run, its split, the threads'
// runs (made when a batch first needs them, kept for the next batches) and
// the tasks' times.
struct BatchContext {
    MiningRun& run;
    const TaskSplit& split;
    std::vector<std::unique_ptr<MiningRun>> workers;
    std::vector<double> taskTime;
};

static void AddWorker(BatchContext& c) {
    // Owned before the list grows: a failed allocation loses nothing.
    std::unique_ptr<MiningRun> made(new MiningRun(c.run.dataset, nullptr, nullptr));
    c.workers.push_back(std::move(made));
    MiningRun& w = *c.workers.back();
    w.proj.InitOver(c.run.proj);
    w.Build();
    w.progressOf = &c.run.progress;
    w.cancel = c.run.cancel;
}

// Mines one batch of filled first-level tasks on the threads: the largest
// are split one level deeper (not in a partition), the rest handed out
// largest first, and the split nodes get their children's subtrees back.
// Returns the batch's memory beyond what was held before it: the split
// steps' peak plus the peaks of as many tasks as there were threads, the
// largest ones.  An upper bound of the real peak that does not depend on
// which thread mined which task.
static int64_t MineBatch(BatchContext& c, PROJ_DB* records, const std::vector<MiningTask>& tasks) {
    MiningRun& run = c.run;
    const TaskSplit& split = c.split;
    std::vector<std::unique_ptr<MiningRun>>& workers = c.workers;
    std::vector<double>& taskTime = c.taskTime;
    // The largest first-level tasks are split: their own step (node and
    // children) is done here, before any thread starts, and each expandable
    // child becomes a task of its own.  Partitions keep whole first-level
    // tasks.
    size_t requested = (size_t)std::max(split.threads, 1);
    std::vector<char> splitTask = split.parts > 0
                                      ? std::vector<char>(tasks.size(), 0)
                                      : TasksToSplit(tasks, split.threads, split.splitShare);
    if (workers.empty()) AddWorker(c);
    std::vector<SplitHead> heads;
    std::vector<WorkItem> work;
    // When a task fails, the batch gives back what no task holds before the
    // failure goes on: the records of the tasks from `untaken` on, which no
    // thread took, and the split steps' children arrays.  (A task that failed
    // part way gave back what it held.)
    auto giveBack = [&](size_t untaken) {
        ProjWorkspace& proj = workers[0]->proj;
        for (size_t k = untaken; k < work.size(); k++) proj.release_projdb_buffers(work[k].record);
        for (const SplitHead& head : heads) {
            proj.ReleaseRecordsArray(head.count);
            free(head.children);
        }
    };
    // The split steps' projections are all held until their tasks are
    // mined: their peak is counted once, over all of them.
    int64_t headBase = workers[0]->proj.n_total_mem;
    workers[0]->proj.n_max_mem = headBase;
    int64_t headPeak = 0;
    size_t threads = 1;
    // Each thread's stand-ins for the split nodes, made on first use.
    std::vector<std::vector<TreeNode*>> standIns;
    std::vector<std::exception_ptr> errors;
    std::vector<int64_t> taskPeak;
    size_t timeBase = 0;
    try {
        // Room for every head and time first: a head stepped is in `heads`
        // at once, for giveBack.
        heads.reserve(tasks.size());
        taskTime.reserve(taskTime.size() + tasks.size());
        for (size_t k = 0; k < tasks.size(); k++) {
            PROJ_DB* rec = &records[tasks[k].record];
            if (!splitTask[k]) {
                work.push_back(WorkItem{-1, rec, tasks[k].size, (int)work.size()});
                continue;
            }
            MiningRun& w = *workers[0];
            auto begin = std::chrono::steady_clock::now();
            SplitHead head = StepHead(w, rec, (int)heads.size(), work);
            std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
            taskTime.push_back(took.count());
            if (head.node != nullptr) heads.push_back(head);
        }
        headPeak = workers[0]->proj.n_max_mem - headBase;
        // Largest estimate first; ties in the order met.
        std::sort(work.begin(), work.end(), [](const WorkItem& a, const WorkItem& b) {
            return a.size != b.size ? a.size > b.size : a.order < b.order;
        });

        threads = std::max<size_t>(1, std::min(work.size(), requested));
        while (workers.size() < threads) AddWorker(c);
        standIns.assign(threads, std::vector<TreeNode*>(heads.size(), nullptr));
        errors.resize(threads);
        taskPeak.assign(work.size(), 0);
        timeBase = taskTime.size();
        taskTime.resize(timeBase + work.size(), 0);
    } catch (...) {
        giveBack(0);
        throw;
    }

    // Tasks are taken largest first from one shared counter.  A failure on
    // one thread (a failed allocation) stops the others at their next task
    // and is rethrown here once all have ended.
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto mine = [&](size_t t) {
        MiningRun& w = *workers[t];
        PatternTree& wt = *w.tree;
        // The thread's failures go to the run's error log.
        DiagnosticsScope bound(run.diagnostics);
        PROJ_DB* taken = nullptr;  // the task being mined, until it is done
        try {
            for (size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < work.size();) {
                PROJ_DB* rec = work[k].record;
                taken = rec;
                if (w.cancel != nullptr && w.cancel->load(std::memory_order_relaxed))
                    w.cancelled = true;
                if (w.cancelled || failed.load(std::memory_order_relaxed)) {
                    // The remaining records only give their buffers back.
                    w.proj.clean_projcted_db(rec);
                    continue;
                }
                wt.reverseTable.Clear();
                // A child of a split node grows under this thread's stand-in
                // for that node: the same pattern, depth and support, so
                // every comparison sees the whole pattern.  The stand-in is
                // in no Children array and no table.
                int h = work[k].head;
                if (h >= 0) {
                    TreeNode*& standIn = standIns[t][(size_t)h];
                    if (standIn == nullptr) {
                        const TreeNode* real = heads[(size_t)h].node;
                        standIn = wt.arena.NewNode(real->Item, real->ItemIsIntra, real->Support,
                                                   wt.root);
                        standIn->Parent = wt.root;
                        standIn->Items = real->Items;
                        standIn->ItemsetNumber = real->ItemsetNumber;
                        standIn->ProjDBSize = real->ProjDBSize;
                    }
                    wt.currentLevel = standIn;
                }
                // The task's own peak, above what the thread held before it.
                int64_t base = w.proj.n_total_mem;
                w.proj.n_max_mem = base;
                auto begin = std::chrono::steady_clock::now();
                PrefixSpan(w, rec);
                std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
                wt.currentLevel = wt.root;
                taskPeak[k] = w.proj.n_max_mem - base;
                taskTime[timeBase + k] = took.count();
                if (h < 0) BumpProgress(run.progress.firstDone, 1);
                taken = nullptr;
            }
        } catch (...) {
            // A task that failed before its growth started still holds its
            // record's buffers (the growth gives back what it held).
            if (taken != nullptr) w.proj.release_projdb_buffers(taken);
            errors[t] = std::current_exception();
            failed.store(true, std::memory_order_relaxed);
        }
    };
    // The figures (the peak over `threads` tasks) stay those of the run
    // asked for, however many threads start.
    std::vector<std::thread> pool;
    if (std::exception_ptr e = StartThreads(pool, threads, mine)) {
        // The calling thread only gives the tasks' buffers back.
        errors[0] = e;
        failed.store(true, std::memory_order_relaxed);
    }
    mine(0);
    for (std::thread& th : pool) th.join();
    for (std::exception_ptr& e : errors) {
        if (e) {
            giveBack(std::min(next.load(), work.size()));
            std::rethrow_exception(e);
        }
    }

    // Every task's records have given their buffers back: the split steps'
    // children arrays go.
    for (const SplitHead& head : heads) {
        workers[0]->proj.ReleaseRecordsArray(head.count);
        free(head.children);
    }
    // The children mined under the stand-ins join the split nodes, in child
    // order beside the leaf children, as one thread would have grown them.
    for (size_t h = 0; h < heads.size(); h++) {
        TreeNode* node = heads[h].node;
        for (size_t t = 0; t < threads; t++) {
            TreeNode* standIn = standIns[t][h];
            if (standIn == nullptr) continue;
            for (TreeNode* child : *standIn->Children) {
                child->Parent = node;
                InsertChild(node->Children, child);
            }
            standIn->Children->clear();
        }
        BumpProgress(run.progress.firstDone, 1);
    }

    std::sort(taskPeak.begin(), taskPeak.end(), [](int64_t a, int64_t b) { return a > b; });
    int64_t peak = headPeak;
    for (size_t t = 0; t < threads && t < taskPeak.size(); t++) peak += taskPeak[t];
    return peak;
}

// The first-level records before the batches take them over: should the
// run fail on the way (a failed allocation while they are filled or the
// leaves inserted), they give their buffers back and the array goes before
// the failure goes on.
struct UnminedRecords {
    ProjWorkspace& proj;
    PROJ_DB* records;  // null once taken over
    int count;
    ~UnminedRecords() {
        if (records == nullptr) return;
        for (int i = 0; i < count; i++) proj.release_projdb_buffers(&records[i]);
        proj.ReleaseRecordsArray(count);
        free(records);
    }
};

// The bytes of projection buffers held over all the run's workspaces: a
// record filled by one workspace may be released by another's.
static int64_t HeldBytes(const BatchContext& c) {
    int64_t held = c.run.proj.n_total_mem;
    for (const std::unique_ptr<MiningRun>& w : c.workers) held += w->proj.n_total_mem;
    return held;
}

int MineInTasks(MiningRun& run, PROJ_DB* records, int count, const TaskSplit& split) {
    ProjWorkspace& proj = run.proj;
    if (count <= 0 || records == nullptr) return 0;
    UnminedRecords unmined{proj, records, count};
    // Tasks are planned from their entries and taken in size order, so a
    // batch's records are all filled before its tasks are planned.  When the
    // expandable records' entries fit one batch, or the run is a partition
    // (its plan needs every record's estimate), every record is filled at
    // once; otherwise the expandable records are filled and mined batch by
    // batch, in record order, so that only one batch's entries are held.
    bool batched = false;
    if (split.parts <= 0) {
        int first = 0;
        while (first < count && !IsExpandable(proj, &records[first])) first++;
        size_t bytes = 0;
        for (int i = first; i < count; i++)
            if (IsExpandable(proj, &records[i]))
                bytes += sizeof(PROJ_SEQ) * (size_t)records[i].m_nSupport;
        batched = first < count && bytes > proj.gFirstLevelBudget;
    }
    std::vector<MiningTask> tasks;
    int expandable = 0;
    for (int i = 0; i < count; i++)
        if (IsExpandable(proj, &records[i])) expandable++;
    if (!batched) {
        proj.FillFirstLevel(records, count);
        tasks = PlanTasks(proj, records, count, split.part, split.parts);
        expandable = (int)tasks.size();
    }
    bool leavesHere = split.parts <= 0 || split.part == 1;
    {
        int firstLevel = expandable;
        for (int i = 0; leavesHere && i < count; i++)
            if (!IsExpandable(proj, &records[i])) firstLevel++;
        run.progress.firstTotal.store(firstLevel, std::memory_order_relaxed);
        BumpProgress(run.progress.patterns, (long long)count);
    }

    // The leaves first, as in a run on one thread; the expandable records of
    // other partitions only give their buffers back.
    // A partition counts only its own first-level patterns as met.
    std::vector<char> mined((size_t)count, 0);
    if (batched) std::fill(mined.begin(), mined.end(), 1);
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
    run.n_proj_db += expandable;
    if (leavesHere) BumpProgress(run.progress.firstDone, leaves);

    // The peak memory: the first projection's, or, per batch, what was held
    // when the batch was filled, plus the batch's own peak (MineBatch); the
    // largest over the batches.
    BatchContext c{run, split, {}, {}};
    int64_t peak = proj.n_max_mem;
    unmined.records = nullptr;  // from here the catch below gives them back
    try {
        if (!batched) {
            peak += MineBatch(c, records, tasks);
        } else {
            int64_t firstPeak = proj.n_max_mem;
            for (int first = 0; first < count;) {
                if (!IsExpandable(proj, &records[first])) {
                    first++;
                    continue;
                }
                bool cancelled = run.cancelled || (run.cancel != nullptr &&
                                                   run.cancel->load(std::memory_order_relaxed));
                if (cancelled) {
                    // No more batches: the remaining records were never filled.
                    run.cancelled = true;
                    for (; first < count; first++) proj.release_projdb_buffers(&records[first]);
                    break;
                }
                int64_t held = HeldBytes(c);
                int64_t before = proj.n_total_mem;
                int last = proj.FillFirstLevelBatch(records, count, first);
                int64_t filled = held + (proj.n_total_mem - before);
                std::vector<MiningTask> batch =
                    PlanTasks(proj, records + first, last - first, 0, 0);
                for (MiningTask& t : batch) t.record += first;
                int64_t batchPeak = std::max(firstPeak, filled) + MineBatch(c, records, batch);
                peak = std::max(peak, batchPeak);
                first = last;
            }
        }
    } catch (...) {
        // A failed batch ends the run.  The first-level records not mined
        // (this batch's untaken ones, the later batches' never filled) give
        // their buffers back and the array goes, as at the end of a whole
        // run; the bytes the threads' workspaces took or gave back count
        // with the run's, so that its count is what is still held.
        for (int i = 0; i < count; i++) proj.release_projdb_buffers(&records[i]);
        proj.n_total_mem = HeldBytes(c);
        proj.ReleaseRecordsArray(count);
        free(records);
        throw;
    }
    // Every record has given its buffers back, whichever workspace filled
    // or released it: the array goes, and the run's count takes the
    // threads' counts at once, so that a failure below leaves it right.
    proj.ReleaseRecordsArray(count);
    free(records);
    proj.n_total_mem = HeldBytes(c);
    for (std::unique_ptr<MiningRun>& w : c.workers) w->proj.n_total_mem = 0;

    // One tree under one root: the tasks' first-level nodes beside the
    // leaves, in child order; the threads' trees stay alive with the run.
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (std::unique_ptr<MiningRun>& w : c.workers) {
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
    proj.n_max_mem = peak;
    run.tasks = (int)c.taskTime.size();
    for (double t : c.taskTime) {
        run.taskSeconds += t;
        run.largestTaskSeconds = std::max(run.largestTaskSeconds, t);
    }
    return expandable;
}

void PruneToClosed(MiningRun& run, int threads) {
    PatternTree& tree = *run.tree;
    std::vector<TreeNode*>& top = *tree.root->Children;
    run.progress.pruneTotal.store((int)top.size(), std::memory_order_relaxed);
    std::vector<PatternTree*> scratch(1, &tree);
    for (PatternTree* t : run.threadTrees) {
        if ((int)scratch.size() >= threads) break;
        scratch.push_back(t);
    }
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> errors(scratch.size());
    auto prune = [&](size_t t) {
        // The thread's failures go to the run's error log.
        DiagnosticsScope bound(run.diagnostics);
        try {
            for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < top.size();) {
                closed_maxPruning(*scratch[t], top[i], tree.root);
                BumpProgress(run.progress.pruneDone, 1);
            }
        } catch (...) {
            errors[t] = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    std::exception_ptr startFailed = StartThreads(pool, scratch.size(), prune);
    prune(0);
    for (std::thread& th : pool) th.join();
    if (startFailed) std::rethrow_exception(startFailed);
    for (std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}
