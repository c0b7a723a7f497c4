// The item dictionary written next to a converted dataset ("OUT.items"): one
// line per item code, "CODE<TAB>NAME", codes in ascending order.  Names are
// stored with backslash escapes (\\, \t, \n, \r) so that a name holding a tab
// or a line break still takes exactly one line.
#ifndef QUIVREL_TOOLS_ITEM_DICT_H
#define QUIVREL_TOOLS_ITEM_DICT_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace qtools {

std::string escape_name(const std::string& name);
std::string unescape_name(const std::string& text);

// Names by code, code i at index i.
std::string format_dictionary(const std::vector<std::string>& names);

struct SequenceName;

// The sequence lines that follow the item lines in a dictionary written by
// fromcsv, one per sequence of the dataset:
//   "seq<TAB>NUMBER<TAB>ID"              without sessions
//   "seq<TAB>NUMBER<TAB>ID<TAB>SESSION"  with sessions (--session-gap)
// NUMBER is the sequence's number in the dataset (from 0), ID its escaped
// sequence id, SESSION its session within that id (from 1).
std::string format_sequence_lines(const std::vector<SequenceName>& names, bool sessions);

// A sequence named by a dictionary: "ID", or "ID#SESSION" with sessions.
struct SequenceLabel {
  std::string id;
  long session = 0;  // 0 when the dictionary has no sessions
  std::string text() const { return session > 0 ? id + "#" + std::to_string(session) : id; }
};

// Reads a dictionary.  Sequence lines go to `sequences` (by number) when it
// is given, and are skipped otherwise.  `path` names the file in error messages.  Returns false
// with `err` set ("PATH:LINE: reason") on a malformed line or a repeated code.
bool read_dictionary(std::istream& in, const std::string& path, std::map<int32_t, std::string>& dict,
                     std::string& err, std::vector<SequenceLabel>* sequences = nullptr);

// The dictionary path that goes with a dataset path: a ".bin" suffix is
// replaced by ".items", any other name gets ".items" appended.
std::string dictionary_path_for(const std::string& bin_path);

// The name as a JSON string literal, quotes included.  Bytes that are not
// valid UTF-8 become U+FFFD so that the output is always valid JSON.
std::string json_string(const std::string& s);

}  // namespace qtools

#endif
