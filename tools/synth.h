// Synthetic sequence databases for benchmarks.
//
// The data imitate customer histories: a pool of potential itemsets (items
// that tend to be bought together) is drawn from the items with a skewed
// popularity, a pool of potential sequences (itemsets that tend to follow one
// another) is built from the potential itemsets, and each customer sequence
// is assembled from a few potential sequences, each of them corrupted by
// dropping some of its items.  Frequent patterns of the result are therefore
// (parts of) the potential sequences.
#ifndef QUIVREL_TOOLS_SYNTH_H
#define QUIVREL_TOOLS_SYNTH_H

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace qtools {

struct SynthParams {
  long sequences = 10000;           // number of customer sequences
  double itemsets_per_seq = 10;     // average itemsets per customer sequence
  double items_per_itemset = 2.5;   // average items per customer itemset
  long items = 1000;                // number of distinct items (codes 0 .. items-1)
  double pattern_itemsets = 4;      // average itemsets per potential sequence
  double pattern_itemset_size = 1.25;  // average items per potential itemset
  long patterns = 5000;             // number of potential sequences
  long pattern_pool = 25000;        // number of potential itemsets
  double corruption = 0.25;         // average fraction of items dropped when a pattern is used
  uint64_t seed = 0;
};

// Checks the parameters; false with `err` set when one is out of range.
bool check_synth_params(const SynthParams& p, std::string& err);

// Pseudo-random numbers with distributions of our own, so that a seed gives
// the same numbers with any standard library (std::*_distribution differs
// between implementations; the engine does not).
class SynthRandom {
 public:
  explicit SynthRandom(uint64_t seed) : engine_(seed) {}
  double uniform();                 // [0, 1)
  long below(long n);               // 0 .. n-1
  double exponential(double mean);
  double normal(double mean, double sd);
  long poisson(double mean);

 private:
  std::mt19937_64 engine_;
};

// Generates the database and hands the words of each customer sequence
// (items, -1 after each itemset, -2 at the end) to `emit`, which returns false
// to stop.  Each itemset is sorted ascending without repeats and no itemset
// or sequence is empty.  Returns false if `emit` stopped.
bool generate_sequences(const SynthParams& params,
                        const std::function<bool(const std::vector<int32_t>&)>& emit);

}  // namespace qtools

#endif
