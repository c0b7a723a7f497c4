// Synthetic sequence database generator.
#include "synth.h"

#include <algorithm>
#include <cmath>

namespace qtools {

// ------------------------------------------------------------ random numbers

double SynthRandom::uniform() {
  // 53 random bits give every double of [0, 1) on a grid of 2^-53.
  return static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0);
}

long SynthRandom::below(long n) {
  const long k = static_cast<long>(uniform() * static_cast<double>(n));
  return k < n ? k : n - 1;
}

double SynthRandom::exponential(double mean) { return -mean * std::log(1.0 - uniform()); }

double SynthRandom::normal(double mean, double sd) {
  // Box-Muller; 1 - u lies in (0, 1] so the logarithm is finite.
  const double u1 = 1.0 - uniform();
  const double u2 = uniform();
  return mean + sd * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

long SynthRandom::poisson(double mean) {
  if (mean <= 0) return 0;
  if (mean > 30) {
    // For large means the normal approximation is close enough and fast.
    const double x = std::floor(normal(mean, std::sqrt(mean)) + 0.5);
    return x < 0 ? 0 : static_cast<long>(x);
  }
  // Count uniforms until their product drops below e^-mean.
  const double limit = std::exp(-mean);
  long k = 0;
  double prod = uniform();
  while (prod > limit) {
    ++k;
    prod *= uniform();
  }
  return k;
}

// ----------------------------------------------------------------- parameters

bool check_synth_params(const SynthParams& p, std::string& err) {
  auto average_ok = [](double v) { return std::isfinite(v) && v >= 1 && v <= 1e6; };
  if (p.sequences < 0) {
    err = "the number of sequences must be 0 or more";
  } else if (p.items < 1 || p.items > 2147483647L) {
    err = "the number of items must be between 1 and 2147483647";
  } else if (!average_ok(p.itemsets_per_seq)) {
    err = "the average number of itemsets per sequence must be between 1 and 1e6";
  } else if (!average_ok(p.items_per_itemset)) {
    err = "the average number of items per itemset must be between 1 and 1e6";
  } else if (!average_ok(p.pattern_itemsets)) {
    err = "the average number of itemsets per potential sequence must be between 1 and 1e6";
  } else if (!average_ok(p.pattern_itemset_size)) {
    err = "the average size of potential itemsets must be between 1 and 1e6";
  } else if (p.patterns < 1 || p.patterns > 100000000L) {
    err = "the number of potential sequences must be between 1 and 1e8";
  } else if (p.pattern_pool < 1 || p.pattern_pool > 100000000L) {
    err = "the number of potential itemsets must be between 1 and 1e8";
  } else if (!(p.corruption >= 0 && p.corruption <= 1)) {
    err = "the corruption level must be between 0 and 1";
  } else {
    return true;
  }
  return false;
}

// ------------------------------------------------------------------ generator

namespace {

// Picks indices with probability proportional to their weights.
struct WeightedPick {
  std::vector<double> cumulative;

  void add(double w) { cumulative.push_back((cumulative.empty() ? 0 : cumulative.back()) + w); }

  long pick(SynthRandom& rng) const {
    const double x = rng.uniform() * cumulative.back();
    const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), x);
    const long i = static_cast<long>(it - cumulative.begin());
    return std::min(i, static_cast<long>(cumulative.size()) - 1);
  }
};

// A count with the given average and at least 1: 1 + Poisson(average - 1).
long count_at_least_one(SynthRandom& rng, double average) { return 1 + rng.poisson(average - 1); }

// Fraction of a pool entry taken over from the entry made before it, so that
// neighbouring patterns share parts as real ones do.
double overlap_fraction(SynthRandom& rng) { return std::min(1.0, rng.exponential(0.25)); }

struct PotentialSequence {
  std::vector<long> itemsets;  // indices into the potential itemsets
  double corruption;           // chance of dropping each item when used
};

}  // namespace

bool generate_sequences(const SynthParams& params,
                        const std::function<bool(const std::vector<int32_t>&)>& emit) {
  SynthRandom rng(params.seed);

  // Item popularity: exponentially distributed weights, so that a few items
  // are far more common than most.
  WeightedPick item_pick;
  item_pick.cumulative.reserve(static_cast<size_t>(params.items));
  for (long i = 0; i < params.items; ++i) item_pick.add(rng.exponential(1.0));

  // Potential itemsets: distinct items, partly taken from the previous one.
  std::vector<std::vector<int32_t>> pool(static_cast<size_t>(params.pattern_pool));
  WeightedPick pool_pick;
  for (size_t n = 0; n < pool.size(); ++n) {
    const long size = std::min(count_at_least_one(rng, params.pattern_itemset_size), params.items);
    std::vector<int32_t>& itemset = pool[n];
    if (n > 0) {
      const std::vector<int32_t>& prev = pool[n - 1];
      const long take = std::min(static_cast<long>(std::floor(overlap_fraction(rng) * size + 0.5)),
                                 static_cast<long>(prev.size()));
      for (long k = 0; k < take; ++k) itemset.push_back(prev[static_cast<size_t>(rng.below(static_cast<long>(prev.size())))]);
      std::sort(itemset.begin(), itemset.end());
      itemset.erase(std::unique(itemset.begin(), itemset.end()), itemset.end());
    }
    // Fill up by popularity; the bound on tries stops a skewed draw over few
    // items from looping for long.
    for (long tries = 0; static_cast<long>(itemset.size()) < size && tries < 100 * size; ++tries) {
      const int32_t item = static_cast<int32_t>(item_pick.pick(rng));
      if (std::find(itemset.begin(), itemset.end(), item) == itemset.end()) itemset.push_back(item);
    }
    std::sort(itemset.begin(), itemset.end());
    pool_pick.add(rng.exponential(1.0));
  }

  // Potential sequences: itemsets from the pool by weight, some at the same
  // places as in the previous potential sequence.
  std::vector<PotentialSequence> patterns(static_cast<size_t>(params.patterns));
  WeightedPick pattern_pick;
  for (size_t n = 0; n < patterns.size(); ++n) {
    const long length = count_at_least_one(rng, params.pattern_itemsets);
    const double overlap = overlap_fraction(rng);
    PotentialSequence& ps = patterns[n];
    for (long j = 0; j < length; ++j) {
      if (n > 0 && static_cast<size_t>(j) < patterns[n - 1].itemsets.size() && rng.uniform() < overlap) {
        ps.itemsets.push_back(patterns[n - 1].itemsets[static_cast<size_t>(j)]);
      } else {
        ps.itemsets.push_back(pool_pick.pick(rng));
      }
    }
    ps.corruption = std::min(1.0, std::max(0.0, rng.normal(params.corruption, 0.1)));
    pattern_pick.add(rng.exponential(1.0));
  }

  // Customer sequences.
  std::vector<std::vector<int32_t>> slots;
  std::vector<std::vector<int32_t>> used;
  std::vector<long> positions;
  std::vector<int32_t> words;
  for (long c = 0; c < params.sequences; ++c) {
    const long nslots = count_at_least_one(rng, params.itemsets_per_seq);
    long target = 0;  // items this customer should get in all
    for (long k = 0; k < nslots; ++k) target += count_at_least_one(rng, params.items_per_itemset);
    slots.assign(static_cast<size_t>(nslots), std::vector<int32_t>());

    long placed = 0;
    for (long tries = 0; placed < target && tries < 4 * target + 10; ++tries) {
      const PotentialSequence& ps = patterns[static_cast<size_t>(pattern_pick.pick(rng))];
      // Corrupt a copy: each item survives with probability 1 - corruption.
      used.clear();
      for (long idx : ps.itemsets) {
        std::vector<int32_t> kept;
        for (int32_t item : pool[static_cast<size_t>(idx)]) {
          if (rng.uniform() >= ps.corruption) kept.push_back(item);
        }
        if (!kept.empty()) used.push_back(std::move(kept));
      }
      if (used.empty()) continue;
      // Spread the itemsets over the customer's itemsets in order: distinct
      // random slots when they fit, otherwise neighbours share a slot.
      const long k = static_cast<long>(used.size());
      positions.clear();
      if (k <= nslots) {
        // Selection sampling: k of nslots positions, ascending, uniformly.
        long need = k;
        for (long s = 0; s < nslots && need > 0; ++s) {
          if (rng.below(nslots - s) < need) {
            positions.push_back(s);
            --need;
          }
        }
      } else {
        for (long j = 0; j < k; ++j) positions.push_back(j * nslots / k);
      }
      for (long j = 0; j < k; ++j) {
        std::vector<int32_t>& slot = slots[static_cast<size_t>(positions[static_cast<size_t>(j)])];
        slot.insert(slot.end(), used[static_cast<size_t>(j)].begin(), used[static_cast<size_t>(j)].end());
        placed += static_cast<long>(used[static_cast<size_t>(j)].size());
      }
    }

    words.clear();
    for (std::vector<int32_t>& slot : slots) {
      // A slot that no pattern reached gets one item by popularity (noise),
      // so sequences keep about the requested number of itemsets.
      if (slot.empty()) slot.push_back(static_cast<int32_t>(item_pick.pick(rng)));
      std::sort(slot.begin(), slot.end());
      slot.erase(std::unique(slot.begin(), slot.end()), slot.end());
      words.insert(words.end(), slot.begin(), slot.end());
      words.push_back(-1);
    }
    words.push_back(-2);
    if (!emit(words)) return false;
  }
  return true;
}

}  // namespace qtools
