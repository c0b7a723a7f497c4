// Candidate frames: the frequent new-itemset extensions of each pattern on
// the current path of the recursion.  A pattern's new-itemset extensions
// can only be among its parent's, so a step counts only those candidates.
//
// The contract with the caller: patterns are projected depth first.  A
// step looks up its parent's frame on the stack and drops the frames of
// finished steps above it; a caller that projected patterns in another
// order would find no frame (the step then counts every code, which is
// slower but still exact).  The first level leaves one frame: the empty
// pattern with every frequent item.
//
// Tested by tests/integration/test_bruteforce_closed.cpp (forced mask and
// marks counters, which need the candidates) and the fuzz target.
#ifndef QUIVREL_PROJDB_CANDIDATEFRAMES_H
#define QUIVREL_PROJDB_CANDIDATEFRAMES_H

#include <vector>

#include "projdb/ProjDB.h"

// The codes that can be frequent new-itemset extensions of `db`: those of
// its parent's pattern.  Null when the parent's step is not known.
const std::vector<int>* InterCandidates(const PROJ_DB* db);
// Keeps the frequent new-itemset extensions of the pattern just projected
// for the steps of its children.
void PushCandidates(const PROJ_DB* db, const std::vector<int>& items);
// Starts the stack over with the first level's frame: every frequent item.
void StartCandidateFrames(const std::vector<int>& firstLevelItems);
void ResetCandidateFrames();

#endif
