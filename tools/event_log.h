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
// seconds and nanoseconds since 1970-01-01T00:00:00Z.  A number written as
// a whole number within the int64 range is kept exactly as an integer (a
// nanosecond timestamp does not fit a double); any other number is a double.
struct OrderValue {
  bool is_time = false;
  bool is_integer = false;  // a number held in `integer`, else in `number`
  double number = 0;
  int64_t integer = 0;
  int64_t seconds = 0;
  int32_t nanos = 0;
};

// Parses "YYYY-MM-DD", optionally followed by 'T' or a blank and
// "hh:mm[:ss[.fraction]]" and an optional zone "Z", "+hh", "+hhmm" or
// "+hh:mm" (or '-').  A time without a zone is taken as UTC.
bool parse_iso8601(const std::string& text, int64_t& seconds, int32_t& nanos);

// A decimal number (no hex, no inf/nan) or else an ISO-8601 time.
bool parse_order_value(const std::string& text, OrderValue& value);

// -1, 0 or 1; both values must be times or both numbers.  Numbers compare
// exactly, an integer against a double too.
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

// The largest distance between two consecutive events of one session: a
// duration ("45s", "30m", "2h", "1d", decimals allowed) for a time order
// column, or a plain number for a numeric one.
struct SessionGap {
  bool set = false;
  bool is_duration = false;  // given with a unit
  double number = 0;         // plain number ...
  unsigned __int128 whole = 0;  // ... its whole part, exact ...
  double fraction = 0;          // ... and the rest, in [0, 1)
  int64_t seconds = 0;       // duration, whole seconds ...
  int32_t nanos = 0;         // ... and the nanoseconds beyond them
};

// Parses a --session-gap value; false with `err` set when it is not one.
bool parse_session_gap(const std::string& text, SessionGap& gap, std::string& err);

struct EventLogOptions {
  std::string seq_column;    // header name or 1-based position
  std::string order_column;
  std::string item_column;
  char delimiter = ',';
  bool header = true;
  bool skip_bad = false;
  SessionGap session_gap;    // split a sequence id's events into sessions
};

// Where a sequence of the dataset came from: its sequence id and, when the
// events were split into sessions, the session's number within that id
// (from 1, in time order).
struct SequenceName {
  std::string id;
  long session = 1;
};

struct EventLogResult {
  std::vector<int32_t> words;      // the dataset
  std::vector<std::string> names;  // item name by code
  long sequences = 0;
  std::vector<SequenceName> sequence_names;  // by sequence number (from 0)
  long events = 0;
  long bad_rows = 0;                      // rows skipped under skip_bad
  std::vector<std::string> bad_messages;  // "NAME:LINE: reason" for each of them
};

// Groups the events of `in` into sequences (in order of first appearance),
// the events of one sequence into itemsets by equal order value (in
// ascending order), and codes items in order of first appearance; the items
// of an itemset are sorted and de-duplicated.  With a session gap, a
// sequence id's events are further split wherever two consecutive ones lie
// more than the gap apart: its sessions become consecutive sequences.  A malformed row stops the
// conversion with `err` naming its line unless `skip_bad` is set.
bool convert_event_log(std::istream& in, const std::string& name, const EventLogOptions& options,
                       EventLogResult& result, std::string& err);

}  // namespace qtools

#endif
