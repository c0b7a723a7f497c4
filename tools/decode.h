// Reading quivrel's result file ("ClosedMaxset.txt") and printing its
// patterns with item names in place of codes.
#ifndef QUIVREL_TOOLS_DECODE_H
#define QUIVREL_TOOLS_DECODE_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace qtools {

// One pattern line: "<(1 2)(3)>  Num= 12345 Support = 7   ItemsetNumber = 2".
struct PatternLine {
  long line = 0;  // line number in the result file
  std::vector<std::vector<int32_t>> itemsets;
  long long key = 0;  // the "Num=" value
  long long support = 0;
  long long itemset_count = 0;  // as the file gives it
};

// Parses one pattern line; false (with `err` set to the reason) if it is not one.
bool parse_pattern_line(const std::string& text, PatternLine& pattern, std::string& err);

// Reads every pattern line of a result file, skipping the lines that do not
// start with '<' (the "CLOSED" header and the summary).  A line that starts
// with '<' but does not parse is an error "NAME:LINE: ...".
bool read_result_file(std::istream& in, const std::string& name, std::vector<PatternLine>& patterns,
                      std::string& err);

struct SequenceLabel;

// A dataset held as sequences of itemsets, each itemset sorted ascending.
using Itemsets = std::vector<std::vector<int32_t>>;

// Turns well-formed dataset words into sequences of sorted itemsets.
std::vector<Itemsets> split_sequences(const std::vector<int32_t>& words);

// Whether `pattern` occurs in `sequence`: its itemsets are subsets, in
// order, of distinct itemsets of the sequence (the relation quivrel mines
// by).  Both must hold sorted itemsets.
bool contains_pattern(const Itemsets& sequence, const Itemsets& pattern);

struct DecodeOptions {
  bool json = false;
  long min_items = 0;          // keep patterns with at least this many items
  long max_items = -1;         // ... and at most this many (-1: no limit)
  std::vector<std::string> contains;  // item names that must all occur
  long top = -1;               // keep the K first by support, ties by pattern text
  bool sort_by_support = false;  // highest support first, file order among equals
  // With a dataset: each pattern's share of its sequences; with
  // with_sequences also the numbers (and, given labels, the names) of the
  // sequences that contain it.
  const std::vector<Itemsets>* dataset = nullptr;
  bool with_sequences = false;
  const std::vector<SequenceLabel>* labels = nullptr;
};

// Writes the patterns with names: TSV (a header line, then
// "PATTERN<TAB>SUPPORT<TAB>ITEMSETS", then the ratio, sequence numbers and
// sequence ids when asked) or JSON lines.  With --with-sequences, a pattern
// that a different number of sequences contains than its support says is an
// error (the dataset is not the one that was mined).  A code that the
// dictionary lacks is an error naming the code and the result file's line;
// nothing is written then.
bool decode_patterns(const std::vector<PatternLine>& patterns, const std::string& result_name,
                     const std::map<int32_t, std::string>& dict, const std::string& dict_name,
                     const DecodeOptions& options, std::ostream& out, std::string& err);

}  // namespace qtools

#endif
