// quivrel-gen: writes a synthetic sequence database in quivrel's binary
// form, for benchmarks.  The same parameters and seed give the same file.

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "dataset_io.h"
#include "synth.h"

int main(int argc, char** argv) {
  qtools::SynthParams p;
  std::string out_path;

  CLI::App app{
      "Generates a synthetic sequence database: customer sequences assembled from a pool of\n"
      "potential sequences (frequent patterns in the making), which are built from a pool of\n"
      "potential itemsets drawn from items of skewed popularity. Prints the largest item code,\n"
      "the item count argument of quivrel."};
  app.name("quivrel-gen");
  app.add_option("OUT.bin", out_path, "binary dataset to write")->required();
  app.add_option("-n,--sequences", p.sequences, "number of customer sequences")
      ->capture_default_str();
  app.add_option("-s,--itemsets-per-seq", p.itemsets_per_seq,
                 "average number of itemsets per customer sequence (>= 1)")
      ->capture_default_str();
  app.add_option("-t,--items-per-itemset", p.items_per_itemset,
                 "average number of items per customer itemset (>= 1)")
      ->capture_default_str();
  app.add_option("-i,--items", p.items, "number of distinct items; codes are 0 .. items-1")
      ->capture_default_str();
  app.add_option("-l,--pattern-itemsets", p.pattern_itemsets,
                 "average number of itemsets per potential sequence (>= 1)")
      ->capture_default_str();
  app.add_option("-m,--pattern-itemset-size", p.pattern_itemset_size,
                 "average number of items per potential itemset (>= 1)")
      ->capture_default_str();
  app.add_option("-p,--patterns", p.patterns, "number of potential sequences")
      ->capture_default_str();
  app.add_option("-q,--pattern-pool", p.pattern_pool, "number of potential itemsets")
      ->capture_default_str();
  app.add_option("-c,--corruption", p.corruption,
                 "average fraction of a potential sequence's items dropped each time it is used (0..1)")
      ->capture_default_str();
  app.add_option("-r,--seed", p.seed, "seed of the random number generator")->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  std::string err;
  if (!qtools::check_synth_params(p, err)) {
    std::cerr << "quivrel-gen: " << err << "\n";
    return 2;
  }

  qtools::TempFile file;
  if (!file.open(out_path, err)) {
    std::cerr << "quivrel-gen: " << err << "\n";
    return 1;
  }
  // Sequences are written as they come, through a buffer of about 1 MiB.
  std::string buffer;
  bool ok = qtools::generate_sequences(p, [&](const std::vector<int32_t>& words) {
    qtools::append_le(words, buffer);
    if (buffer.size() < (1u << 20)) return true;
    const bool written = file.write(buffer.data(), buffer.size(), err);
    buffer.clear();
    return written;
  });
  ok = ok && file.write(buffer.data(), buffer.size(), err) && file.commit(err);
  if (!ok) {
    std::cerr << "quivrel-gen: " << err << "\n";
    return 1;
  }
  std::cout << (p.items - 1) << "\n";
  return 0;
}
