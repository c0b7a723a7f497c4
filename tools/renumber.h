// Dense renumbering of a dataset's item codes.
//
// quivrel sizes its per-item tables by the largest item code, so a dataset
// whose codes are few but large (say, a handful around 2,000,000,000) needs
// tables of billions of rows.  Renumbering gives the distinct codes the new
// codes 0..k-1 in ascending order of the old ones.  The mapping is monotone,
// so the order of the items inside every itemset stays as it was and quivrel
// finds the same patterns, only with the new names.
#ifndef QUIVREL_TOOLS_RENUMBER_H
#define QUIVREL_TOOLS_RENUMBER_H

#include <cstdint>
#include <string>
#include <vector>

namespace qtools {

// The distinct item codes (values >= 0) of `words`, ascending.  The old code
// of new code i is element i.  Takes memory in proportion to the number of
// item words, never to the size of the code range.
std::vector<int32_t> distinct_codes(const std::vector<int32_t>& words);

// Replaces every item code of `words` by its index in `codes`, which must be
// the result of distinct_codes() for the same words.  -1 and -2 stay.
void renumber_words(std::vector<int32_t>& words, const std::vector<int32_t>& codes);

// The dictionary that names each new code after its old one ("0\t7\n1\t...").
std::string renumber_dictionary(const std::vector<int32_t>& codes);

// The whole command: reads and checks `in_path`, writes the renumbered
// dataset to `out_path` and the dictionary to `items_path` (both under
// temporary names, renamed into place only when both are complete), and
// prints the largest new code on `out`.  Errors go to `err`; returns the
// process exit status.
int run_renumber(const std::string& in_path, const std::string& out_path,
                 const std::string& items_path, std::ostream& out, std::ostream& err);

}  // namespace qtools

#endif
