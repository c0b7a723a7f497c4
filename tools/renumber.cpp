// Dense renumbering of item codes.
#include "renumber.h"

#include <algorithm>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

#include "dataset_io.h"
#include "item_dict.h"

namespace qtools {

std::vector<int32_t> distinct_codes(const std::vector<int32_t>& words) {
  // Sort + unique over the item words only: memory follows the input, not the
  // code range, however large the codes are.
  std::vector<int32_t> codes;
  size_t items = 0;
  for (int32_t w : words) items += w >= 0;
  codes.reserve(items);
  for (int32_t w : words) {
    if (w >= 0) codes.push_back(w);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  codes.shrink_to_fit();
  return codes;
}

void renumber_words(std::vector<int32_t>& words, const std::vector<int32_t>& codes) {
  for (int32_t& w : words) {
    if (w < 0) continue;
    // The new code is the old code's rank among the distinct codes.
    w = static_cast<int32_t>(std::lower_bound(codes.begin(), codes.end(), w) - codes.begin());
  }
}

std::string renumber_dictionary(const std::vector<int32_t>& codes) {
  std::string out;
  for (size_t i = 0; i < codes.size(); ++i) {
    out += std::to_string(i);
    out.push_back('\t');
    out += std::to_string(codes[i]);
    out.push_back('\n');
  }
  return out;
}

namespace {

// Writes the words little-endian in blocks, so that no second copy of a large
// dataset is held as bytes.
bool write_words(TempFile& file, const std::vector<int32_t>& words, std::string& err) {
  const size_t block = 1 << 16;
  std::vector<int32_t> part;
  std::string bytes;
  for (size_t at = 0; at < words.size(); at += block) {
    const size_t end = std::min(words.size(), at + block);
    part.assign(words.begin() + static_cast<std::ptrdiff_t>(at),
                words.begin() + static_cast<std::ptrdiff_t>(end));
    bytes.clear();
    append_le(part, bytes);
    if (!file.write(bytes.data(), bytes.size(), err)) return false;
  }
  return true;
}

}  // namespace

int run_renumber(const std::string& in_path, const std::string& out_path,
                 const std::string& items_path, std::ostream& out, std::ostream& err) {
  const char* const prog = "quivrel-convert: ";
  // As with every other command, no output may be the input: the input
  // stays as it was.  Nor may the two outputs, both renamed into place, be
  // one file: the dictionary would silently replace the dataset.
  std::string refusal;
  if (!check_outputs({in_path}, {out_path, items_path}, refusal)) {
    err << prog << refusal << "\n";
    return 1;
  }

  std::vector<int32_t> words;
  std::string why;
  if (!read_binary(in_path, words, why)) {
    err << prog << why << "\n";
    return 1;
  }
  if (!check_words(words, why)) {
    err << prog << in_path << ": " << why << "\n";
    return 1;
  }
  const std::vector<int32_t> codes = distinct_codes(words);
  renumber_words(words, codes);
  const std::string dict = renumber_dictionary(codes);

  TempFile bin_file, dict_file;
  if (!bin_file.open(out_path, why) || !write_words(bin_file, words, why) ||
      !dict_file.open(items_path, why) || !dict_file.write(dict.data(), dict.size(), why) ||
      !TempFile::commit_all({&bin_file, &dict_file}, why)) {
    // A renumbered dataset without its dictionary cannot be decoded: both
    // are written or neither.
    err << prog << why << "\n";
    return 1;
  }
  if (codes.empty()) err << prog << "warning: no item codes, the dataset is empty\n";
  // The largest new code: the item count argument of quivrel.
  out << (codes.empty() ? 0 : codes.size() - 1) << "\n";
  out.flush();
  if (!out) {
    err << prog << "write error on standard output\n";
    return 1;
  }
  return 0;
}

}  // namespace qtools
