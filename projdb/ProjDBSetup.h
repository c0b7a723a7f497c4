// Set-up of the projection module, internal to projdb/.
#ifndef QUIVREL_PROJDB_PROJDBSETUP_H
#define QUIVREL_PROJDB_PROJDBSETUP_H

#include "projdb/StepState.h"

// ProjWorkspace::ValidateDataset rejects a malformed dataset (status 1,
// first fault in file order) and records ds.gDatasetShape and gHasContinued
// for a good one.

#endif
