// Conversion of an event log in CSV form (one row per event: a sequence id,
// an order value and an item name) into a sequence dataset and an item
// dictionary.
#ifndef QUIVREL_TOOLS_EVENT_LOG_H
#define QUIVREL_TOOLS_EVENT_LOG_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qtools {

// An order value: a plain number, or an ISO-8601 date/time reduced to
// seconds and nanoseconds since 1970-01-01T00:00:00Z.
struct OrderValue {
  bool is_time = false;
  double number = 0;
  int64_t seconds = 0;
  int32_t nanos = 0;
};

// Parses "YYYY-MM-DD", optionally followed by 'T' or a blank and
// "hh:mm[:ss[.fraction]]" and an optional zone "Z", "+hh", "+hhmm" or
// "+hh:mm" (or '-').  A time without a zone is taken as UTC.
bool parse_iso8601(const std::string& text, int64_t& seconds, int32_t& nanos);

// A decimal number (no hex, no inf/nan) or else an ISO-8601 time.
bool parse_order_value(const std::string& text, OrderValue& value);

// -1, 0 or 1; both values must be of the same kind.
int compare_order(const OrderValue& a, const OrderValue& b);

// One CSV record with the line of the input on which it starts (1-based).
struct CsvRecord {
  long line = 0;
  std::vector<std::string> fields;
};

// Reads CSV records with libcsv (quoted fields may hold the delimiter,
// doubled quotes and line breaks) and hands each to `on_record`, which
// returns false to stop.  Quoting errors are reported as "NAME:LINE: ...".
// Returns false when reading failed or `on_record` stopped it.
bool read_csv(std::istream& in, const std::string& name, char delimiter,
              const std::function<bool(CsvRecord&)>& on_record, std::string& err);

struct EventLogOptions {
  std::string seq_column;    // header name or 1-based position
  std::string order_column;
  std::string item_column;
  char delimiter = ',';
  bool header = true;
  bool skip_bad = false;
};

struct EventLogResult {
  std::vector<int32_t> words;      // the dataset
  std::vector<std::string> names;  // item name by code
  long sequences = 0;
  long events = 0;
  long bad_rows = 0;                      // rows skipped under skip_bad
  std::vector<std::string> bad_messages;  // "NAME:LINE: reason" for each of them
};

// Groups the events of `in` into sequences (in order of first appearance),
// the events of one sequence into itemsets by equal order value (in
// ascending order), and codes items in order of first appearance; the items
// of an itemset are sorted and de-duplicated.  A malformed row stops the
// conversion with `err` naming its line unless `skip_bad` is set.
bool convert_event_log(std::istream& in, const std::string& name, const EventLogOptions& options,
                       EventLogResult& result, std::string& err);

}  // namespace qtools

#endif
