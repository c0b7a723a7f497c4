// The one place that decides how a projection step counts and fills.
//
// Every way gives the same children; they differ only in cost, which
// depends on the step's shape: how many parent entries and item codes,
// how long the rests are, how many candidates and children there are, and
// whether the occurrence tables exist.  Every threshold lives in
// ChooseStrategies.  The step asks as its facts become known (a fact still
// unknown is -1): first for the in-itemset way, then, once the rests are
// noted, for the new-itemset counter (which may first ask for the candidate
// list), and, once the children are known, for the fill.
//
// Tested by tests/integration/test_bruteforce_closed.cpp, which forces
// every counter and fill (ProjectionStrategy) on data checked by brute
// force, and by the fuzz target, which draws the strategy from its input.
#ifndef QUIVREL_PROJDB_STRATEGIES_H
#define QUIVREL_PROJDB_STRATEGIES_H

#include "projdb/ProjDB.h"

struct StepFacts {
    long long parentEntries = 0;     // entries of the parent record
    long long itemCodes = 0;         // rows of the per-item tables
    bool haveTables = false;         // the occurrence tables exist
    bool tablesFindMatches = false;  // most items occur once per sequence
    long long tableColumns = 0;      // columns of the last-occurrence table
    long long rests = -1;            // rests of the step
    long long restWords = -1;        // their words, up to each sequence end
    long long candidates = -1;       // candidate codes; -1 not looked up, -2 none known
    long long newItemsetChildren = -1;
    // The item-by-item fill walks each rest for several items at once (no
    // tables, and itemsets of several items).
    bool severalItemsPerWalk = false;
    // The walks compare eight words at a time (else four).
    bool wideCompares = false;
    // The data are too large to stay in the caches between passes.
    bool largeData = false;
};

struct StepStrategies {
    bool wholeIntra = false;  // in-itemset counts over the whole cleared table
    // The new-itemset counter; kCountAuto while it waits for the candidates.
    ProjectionStrategy::Count count = ProjectionStrategy::kCountAuto;
    bool needCandidates = false;  // look the candidates up, then ask again
    // The new-itemset fill (kFillTables, kFillByItem or kFillScan) once the
    // children are known; kFillAuto before.
    ProjectionStrategy::Fill fill = ProjectionStrategy::kFillAuto;
};

// `forced` is what a test asked for (all automatic in a run); a forced way
// that needs what the step lacks falls back to one that does not.
StepStrategies ChooseStrategies(const StepFacts& facts, const ProjectionStrategy& forced);

#endif
