// Reading, writing and checking quivrel's sequence datasets, shared by the
// companion programs.
//
// Binary form: a headerless stream of 32-bit little-endian signed ints.
// Item codes are >= 0, -1 ends an itemset, -2 ends a sequence; a sequence is
// its itemsets, each followed by -1, then -2 (a lone -2 is an empty sequence).
#ifndef QUIVREL_TOOLS_DATASET_IO_H
#define QUIVREL_TOOLS_DATASET_IO_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "support/AtomicFile.h"
#include "support/DatasetFormat.h"

namespace qtools {

constexpr int32_t kEndItemset = kItemsetEnd;
constexpr int32_t kEndSequence = kSequenceEnd;

// Appends the little-endian bytes of each word to `out`.
void append_le(const std::vector<int32_t>& words, std::string& out);

// Reads a whole binary dataset file into `words`.  On failure returns false
// and sets `err` to a message that names the file.
bool read_binary(const std::string& path, std::vector<int32_t>& words, std::string& err);

// Checks that `words` is a well-formed dataset: values >= -2, every sequence
// ends with -2 that follows a -1 or stands alone, nothing after the last -2.
// On failure returns false and sets `err` (naming the word index, 0-based).
bool check_words(const std::vector<int32_t>& words, std::string& err);

// A file written under a temporary name in the directory of its target and
// renamed to the target by commit(), so that readers never see a partial
// file and a failed run leaves nothing behind.  Not committed, the temporary
// file is removed by the destructor.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool open(const std::string& target, std::string& err);
  bool write(const char* data, size_t size, std::string& err);
  // Closes the temporary file, checking that every byte reached it.
  bool finish(std::string& err);
  bool commit(std::string& err);
  void discard();

  // Commits several files as one: each is finished and each target checked
  // (a directory cannot be replaced) before the first rename, so that a
  // failure leaves all targets as they were.  Should a rename still fail,
  // the targets already renamed are removed rather than left beside old
  // companions.
  static bool commit_all(const std::vector<TempFile*>& files, std::string& err);

 private:
  AtomicFile file_;
};

// Whether two paths name the same file: the same device and inode when both
// exist, else the same place (directory resolved, same name).  "-" (a
// standard stream) is never the same as anything.
bool same_file(const std::string& a, const std::string& b);

// Refuses outputs that are one of the inputs or each other: a command would
// otherwise replace its own input.  Sets `err` naming both.
bool check_outputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                   std::string& err);

// Writes `bytes` to `path` through a temporary file in the same directory that
// is renamed into place, so that a failed write never leaves a partial file.
bool write_file_atomic(const std::string& path, const std::string& bytes, std::string& err);

// Parses one text line of a dataset ("1 2 -1 3 -1 -2") and appends its words.
// Blank lines and lines whose first non-blank character is '#' add nothing.
// On a malformed line returns false and sets `err` to the reason (without the
// file and line prefix, which the caller adds).
bool parse_text_line(const std::string& line, std::vector<int32_t>& words, std::string& err);

// Parses a whole text dataset.  `name` prefixes error messages ("NAME:LINE: ...").
bool parse_text(std::istream& in, const std::string& name, std::vector<int32_t>& words,
                std::string& err);

// Writes the text form: one line per sequence, words separated by single
// spaces, each line ending with -2.  `words` must be well formed.
void write_text(const std::vector<int32_t>& words, std::ostream& out);

// Sorts the items of every itemset ascending and keeps each code once, the
// form quivrel requires.  `words` must be well formed.
void sort_itemsets(std::vector<int32_t>& words);

// The two conversions as whole commands: they print errors to `err` and
// return the process exit status.
int run_totext(const std::string& bin_path, std::ostream& out, std::ostream& err);
// tobin writes every itemset ascending and without repeated codes.
int run_tobin(const std::string& txt_path, const std::string& bin_path, std::istream& stdin_stream,
              std::ostream& err);

}  // namespace qtools

#endif
