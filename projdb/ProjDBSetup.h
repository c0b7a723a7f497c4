// Set-up of the projection module, internal to projdb/.
#ifndef QUIVREL_PROJDB_PROJDBSETUP_H
#define QUIVREL_PROJDB_PROJDBSETUP_H

#include "projdb/StepState.h"

// Rejects a malformed dataset (status 1, first fault in file order) and
// records gDatasetShape and gHasContinued for a good one.
void ValidateDataset(const char* path, int itemcount);

#endif
