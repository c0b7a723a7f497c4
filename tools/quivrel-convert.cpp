// quivrel-convert: gets data into and results out of quivrel.
//
//   totext   binary dataset -> text, one sequence a line
//   tobin    text dataset -> binary
//   fromcsv  event log (CSV) -> binary dataset + item dictionary
//   decode   ClosedMaxset.txt + item dictionary -> named patterns (TSV/JSON)
//   renumber binary dataset -> binary dataset with dense codes + dictionary

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "dataset_io.h"
#include "decode.h"
#include "event_log.h"
#include "item_dict.h"
#include "renumber.h"

namespace {

const char* const kProg = "quivrel-convert";

// Opens `path` for reading, or standard input for "-".
std::istream* open_input(const std::string& path, std::ifstream& file, std::string& err) {
  if (path == "-") return &std::cin;
  file.open(path, std::ios::binary);
  if (!file) {
    err = path + ": cannot open: " + std::strerror(errno);
    return nullptr;
  }
  return &file;
}

// "--delimiter" takes one character, or "tab" / "\t" for a tab.
bool parse_delimiter(const std::string& text, char& delim, std::string& err) {
  if (text == "tab" || text == "\\t") {
    delim = '\t';
  } else if (text.size() == 1 && text[0] != '"' && text[0] != '\n' && text[0] != '\r') {
    delim = text[0];
  } else {
    err = "--delimiter takes one character (other than a quote or a line break) or 'tab'";
    return false;
  }
  return true;
}

struct FromCsvArgs {
  std::string csv_path, bin_path, items_path, session_gap;
  std::string delimiter = ",";
  qtools::EventLogOptions options;
};

int run_fromcsv(FromCsvArgs& a) {
  std::string err;
  if (!parse_delimiter(a.delimiter, a.options.delimiter, err)) {
    std::cerr << kProg << ": " << err << "\n";
    return 2;
  }
  if (!a.session_gap.empty() && !qtools::parse_session_gap(a.session_gap, a.options.session_gap, err)) {
    std::cerr << kProg << ": " << err << "\n";
    return 2;
  }
  const std::string items_path =
      a.items_path.empty() ? qtools::dictionary_path_for(a.bin_path) : a.items_path;
  if (!qtools::check_outputs({a.csv_path}, {a.bin_path, items_path}, err)) {
    std::cerr << kProg << ": " << err << "\n";
    return 1;
  }
  std::ifstream file;
  std::istream* in = open_input(a.csv_path, file, err);
  if (!in) {
    std::cerr << kProg << ": " << err << "\n";
    return 1;
  }
  qtools::EventLogResult result;
  const std::string name = a.csv_path == "-" ? "-" : a.csv_path;
  if (!qtools::convert_event_log(*in, name, a.options, result, err)) {
    std::cerr << err << "\n";
    return 1;
  }
  if (result.bad_rows > 0) {
    // Show the first few so that the user can see what went wrong.
    const size_t shown = 10;
    for (size_t i = 0; i < result.bad_messages.size() && i < shown; ++i) {
      std::cerr << result.bad_messages[i] << " (skipped)\n";
    }
    if (result.bad_messages.size() > shown) {
      std::cerr << "... " << (result.bad_messages.size() - shown) << " more\n";
    }
    std::cerr << kProg << ": skipped " << result.bad_rows << " malformed row(s)\n";
  }
  if (result.names.empty()) std::cerr << kProg << ": warning: no events, the dataset is empty\n";

  std::string bytes;
  qtools::append_le(result.words, bytes);
  const std::string dict = qtools::format_dictionary(result.names) +
                           qtools::format_sequence_lines(result.sequence_names,
                                                         a.options.session_gap.set);
  qtools::TempFile bin_file, dict_file;
  if (!bin_file.open(a.bin_path, err) || !bin_file.write(bytes.data(), bytes.size(), err) ||
      !dict_file.open(items_path, err) || !dict_file.write(dict.data(), dict.size(), err) ||
      !qtools::TempFile::commit_all({&bin_file, &dict_file}, err)) {
    std::cerr << kProg << ": " << err << "\n";
    return 1;
  }
  // The largest item code: the item count argument of quivrel.
  std::cout << (result.names.empty() ? 0 : result.names.size() - 1) << "\n";
  return 0;
}

struct DecodeArgs {
  std::string result_path, items_path, dataset_path, sort = "file";
  qtools::DecodeOptions options;
};

int run_decode(DecodeArgs& a) {
  std::string err;
  std::ifstream dict_file(a.items_path);
  if (!dict_file) {
    std::cerr << kProg << ": " << a.items_path << ": cannot open: " << std::strerror(errno) << "\n";
    return 1;
  }
  std::map<int32_t, std::string> dict;
  std::vector<qtools::SequenceLabel> labels;
  if (!qtools::read_dictionary(dict_file, a.items_path, dict, err, &labels)) {
    std::cerr << err << "\n";
    return 1;
  }
  if (a.options.with_sequences && a.dataset_path.empty()) {
    std::cerr << kProg << ": --with-sequences needs --dataset FILE.bin\n";
    return 2;
  }
  std::vector<qtools::Itemsets> sequences;
  if (!a.dataset_path.empty()) {
    std::vector<int32_t> words;
    if (!qtools::read_binary(a.dataset_path, words, err)) {
      std::cerr << kProg << ": " << err << "\n";
      return 1;
    }
    if (!qtools::check_words(words, err)) {
      std::cerr << kProg << ": " << a.dataset_path << ": " << err << "\n";
      return 1;
    }
    sequences = qtools::split_sequences(words);
    a.options.dataset = &sequences;
    a.options.labels = &labels;
  }
  std::ifstream file;
  std::istream* in = open_input(a.result_path, file, err);
  if (!in) {
    std::cerr << kProg << ": " << err << "\n";
    return 1;
  }
  std::vector<qtools::PatternLine> patterns;
  if (!qtools::read_result_file(*in, a.result_path, patterns, err)) {
    std::cerr << err << "\n";
    return 1;
  }
  a.options.sort_by_support = a.sort == "support";
  if (!qtools::decode_patterns(patterns, a.result_path, dict, a.items_path, a.options, std::cout,
                               err)) {
    std::cerr << kProg << ": " << err << "\n";
    return 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << kProg << ": write error on standard output\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Converts sequence datasets for quivrel and decodes its results."};
  app.name(kProg);
  app.require_subcommand(1);

  std::string totext_bin;
  CLI::App* totext = app.add_subcommand("totext", "Print a binary dataset as text, one sequence a line.");
  totext->add_option("DATA.bin", totext_bin, "binary dataset")->required();

  std::string tobin_txt, tobin_bin;
  CLI::App* tobin = app.add_subcommand("tobin", "Write a text dataset in the binary form.");
  tobin->add_option("DATA.txt", tobin_txt, "text dataset, or - for standard input")->required();
  tobin->add_option("DATA.bin", tobin_bin, "binary dataset to write")->required();

  FromCsvArgs csv;
  CLI::App* fromcsv = app.add_subcommand(
      "fromcsv", "Turn an event log (CSV) into a binary dataset and an item dictionary.");
  fromcsv->add_option("EVENTS.csv", csv.csv_path, "event log, or - for standard input")->required();
  fromcsv->add_option("OUT.bin", csv.bin_path, "binary dataset to write")->required();
  fromcsv->add_option("--seq", csv.options.seq_column, "sequence id column (header name or 1-based position)")
      ->required();
  fromcsv->add_option("--order", csv.options.order_column,
                      "order column: numbers or ISO-8601 times; equal values in one sequence form one itemset")
      ->required();
  fromcsv->add_option("--item", csv.options.item_column, "item column")->required();
  fromcsv->add_option("--delimiter", csv.delimiter, "field delimiter, one character or 'tab' (default ,)");
  fromcsv->add_flag("--no-header", "the first row is data; columns are given by position")
      ->each([&csv](const std::string&) { csv.options.header = false; });
  fromcsv->add_flag("--skip-bad", csv.options.skip_bad, "skip and count malformed rows instead of stopping");
  fromcsv->add_option("--items", csv.items_path,
                      "item dictionary to write (default: OUT.bin with .items in place of .bin)");
  fromcsv->add_option("--session-gap", csv.session_gap,
                      "start a new sequence where two consecutive events of one sequence id lie more "
                      "than DURATION apart (30m, 2h, 45s, 1d; a plain number for a numeric order column)");

  DecodeArgs dec;
  CLI::App* decode = app.add_subcommand("decode", "Print quivrel's patterns with item names.");
  decode->add_option("RESULT", dec.result_path, "quivrel's ClosedMaxset.txt, or - for standard input")
      ->required();
  decode->add_option("ITEMS", dec.items_path,
                     "item dictionary to read (written by fromcsv or renumber)")
      ->required();
  decode->add_flag("--json", dec.options.json, "JSON lines instead of TSV");
  decode->add_option("--min-items", dec.options.min_items, "only patterns with at least N items")
      ->check(CLI::NonNegativeNumber);
  decode->add_option("--max-items", dec.options.max_items, "only patterns with at most N items")
      ->check(CLI::NonNegativeNumber);
  decode->add_option("--contains", dec.options.contains,
                     "only patterns that contain this item (by name; repeat: all must occur)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  decode->add_option("--top", dec.options.top,
                     "the K patterns of highest support (ties by pattern text), in that order")
      ->check(CLI::NonNegativeNumber);
  decode->add_option("--sort", dec.sort, "'support' (highest first) or 'file' (default)")
      ->check(CLI::IsMember({"file", "support"}));
  decode->add_option("--dataset", dec.dataset_path,
                     "the mined dataset: adds each pattern's share of its sequences");
  decode->add_flag("--with-sequences", dec.options.with_sequences,
                   "with --dataset: the numbers (from 0) of the sequences that contain each pattern, "
                   "and their ids when the dictionary names them");

  std::string ren_in, ren_out, ren_items;
  CLI::App* renumber = app.add_subcommand(
      "renumber", "Give a binary dataset's item codes the dense codes 0..k-1 and write a dictionary.");
  renumber->footer(
      "The distinct item codes get the new codes 0..k-1 in ascending order of the old codes, so\n"
      "the order inside every itemset stays the same.  The dictionary names each new code after\n"
      "its old one; 'decode ClosedMaxset.txt ITEMS' prints the patterns with the old codes.\n"
      "Prints the largest new code: the itemcount argument of quivrel.");
  renumber->add_option("IN.bin", ren_in, "binary dataset to read")->required();
  renumber->add_option("OUT.bin", ren_out, "binary dataset to write (not IN.bin itself)")
      ->required();
  renumber->add_option("--items", ren_items,
                       "item dictionary to write (default: OUT.bin with .items in place of .bin)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  if (totext->parsed()) return qtools::run_totext(totext_bin, std::cout, std::cerr);
  if (tobin->parsed()) return qtools::run_tobin(tobin_txt, tobin_bin, std::cin, std::cerr);
  if (fromcsv->parsed()) return run_fromcsv(csv);
  if (decode->parsed()) return run_decode(dec);
  if (renumber->parsed()) {
    const std::string items =
        ren_items.empty() ? qtools::dictionary_path_for(ren_out) : ren_items;
    return qtools::run_renumber(ren_in, ren_out, items, std::cout, std::cerr);
  }
  return 2;
}
