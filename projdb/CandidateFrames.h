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

// ProjWorkspace::InterCandidates gives the codes that can be frequent
// new-itemset extensions of a record: those of its parent's pattern, null
// when the parent's step is not known.  PushCandidates keeps the frequent
// new-itemset extensions of the pattern just projected for the steps of its
// children; StartCandidateFrames starts the stack over with the first
// level's frame (every frequent item).
//
// The frequent extensions of each first-level pattern bound those of every
// longer pattern that ends with the same item: an item that follows a
// pattern's last item in its itemset (or in a later itemset) follows that
// item alone as well, in at least as many sequences.  NoteItemExtensions
// keeps them once the first-level step of an item is done; CannotGrow then
// tells a step, before it reads any data, that no extension of its record
// can be frequent, from the last item's extensions and the candidates.  It
// answers false when it does not know (the last item's first-level step
// has not run in this workspace).  On the 1M row at 0.001 it spares 9,459
// of the 67,945 deeper steps (the steps of 60% of the childless records
// whose last item is known), 3% of the run.

#endif
