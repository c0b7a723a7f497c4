// Debugging aids: a text dump of the dataset ("Test.txt"), a one-record
// summary of a projected database, and the counting of an output pattern by
// its number of items.  None of them is called by a mining run.
//
// Tested by tests/unit/test_projdb_dumps.cpp.
#include <cstdio>

#include "projdb/ProjDB.h"
#include "support/Global.h"

void ProjWorkspace::Test() {
    const size_t count = ds.HalfWords ? (size_t)(ds.WordsEnd<int16_t>() - ds.Words<int16_t>())
                                      : (size_t)(ds.WordsEnd<int>() - ds.Words<int>());
    FILE* out = file_open("Test.txt", "w");

    int records = 0;
    int itemsets = 0;
    int items = 0;
    for (size_t i = 0; i < count; ++i) {
        const int word = ds.HalfWords ? ds.Words<int16_t>()[i] : ds.Words<int>()[i];
        if (word >= 0) {
            fprintf(out, " %d ", word);
            ++items;
        } else if (word == kItemsetEnd) {
            fprintf(out, " | ");
            ++itemsets;
        } else {
            fprintf(out, "\n");
            ++records;
        }
    }
    fprintf(out, "Number of records = %d\n", records);
    fprintf(out, "Number of ItemSets = %d\n", itemsets);
    fprintf(out, "Number of Items = %d\n", items);
    // An average over nothing shows as 0.
    fprintf(out, "Average number of ItemSets in a recored = %d\n",
            records != 0 ? itemsets / records : 0);
    fprintf(out, "Average number of Items in an itemset = %d\n",
            itemsets != 0 ? items / itemsets : 0);
    fclose(out);
    FatalExit(0);
}

void ProjWorkspace::PrintProjDBs(PROJ_DB* records, int count) {
    printf("\nProjected databases:\n");
    if (count <= 0) return;

    const PROJ_DB* db = &records[0];
    printf("Proj. DB. for (");
    if (db->m_nPatLen == 1) {
        printf("%d", db->m_nPatItem);
    } else if (db->m_pnPat != nullptr) {
        for (int i = 0; i < db->m_nPatLen; ++i) {
            int word = db->m_pnPat[i];
            if (word == kItemsetEnd) {
                printf(")");
            } else if (i == 0) {
                printf("%d", word);
            } else if (db->m_pnPat[i - 1] == kItemsetEnd) {
                printf(" (%d", word);
            } else {
                printf(" %d", word);
            }
        }
    }
    printf("\n ");
    printf("NumOfItems = %d m_nSupport= %d  maxSupport= %d totalmem= %lld maxmem= %lld\n",
           db->NumOfItems, db->m_nSupport, db->maxSupport, (long long)n_total_mem,
           (long long)n_max_mem);
}

int ProjWorkspace::OutputPattern(int* pattern, int length) {
    int items = 0;
    for (int i = 0; i < length; ++i) {
        if (pattern[i] != kItemsetEnd) ++items;
    }
    CountLargePattern(items);
    return 1;
}
