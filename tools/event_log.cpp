// Event log (CSV) to sequence dataset.
#include "event_log.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <istream>
#include <unordered_map>

#include "dataset_io.h"

namespace qtools {

// ---------------------------------------------------------------- order values

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `n` digits at s[pos] into `value`.
bool take_digits(const std::string& s, size_t& pos, int n, int& value) {
  if (pos + static_cast<size_t>(n) > s.size()) return false;
  value = 0;
  for (int k = 0; k < n; ++k) {
    const char c = s[pos + static_cast<size_t>(k)];
    if (!is_digit(c)) return false;
    value = value * 10 + (c - '0');
  }
  pos += static_cast<size_t>(n);
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return (m == 2 && leap) ? 29 : days[m - 1];
}

std::string trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool parse_iso8601(const std::string& text, int64_t& seconds, int32_t& nanos) {
  const std::string s = trim(text);
  size_t p = 0;
  int y, mo, d, h = 0, mi = 0, sec = 0;
  int64_t frac = 0;
  if (!take_digits(s, p, 4, y) || p >= s.size() || s[p++] != '-' || !take_digits(s, p, 2, mo) ||
      p >= s.size() || s[p++] != '-' || !take_digits(s, p, 2, d)) {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo)) return false;
  if (p < s.size() && (s[p] == 'T' || s[p] == 't' || s[p] == ' ')) {
    ++p;
    if (!take_digits(s, p, 2, h) || p >= s.size() || s[p++] != ':' || !take_digits(s, p, 2, mi)) {
      return false;
    }
    if (p < s.size() && s[p] == ':') {
      ++p;
      if (!take_digits(s, p, 2, sec)) return false;
      if (p < s.size() && (s[p] == '.' || s[p] == ',')) {
        ++p;
        int ndig = 0;
        while (p < s.size() && is_digit(s[p])) {
          if (ndig < 9) frac = frac * 10 + (s[p] - '0');  // finer than 1 ns is dropped
          ++ndig;
          ++p;
        }
        if (ndig == 0) return false;
        for (int k = ndig; k < 9; ++k) frac *= 10;
      }
    }
    if (h > 23 || mi > 59 || sec > 60) return false;  // 60: a leap second
    int64_t offset = 0;
    if (p < s.size() && (s[p] == 'Z' || s[p] == 'z')) {
      ++p;
    } else if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
      const int sign = s[p++] == '-' ? -1 : 1;
      int oh, om = 0;
      if (!take_digits(s, p, 2, oh)) return false;
      if (p < s.size() && s[p] == ':') ++p;
      if (p < s.size() && !take_digits(s, p, 2, om)) return false;
      if (oh > 23 || om > 59) return false;
      offset = sign * (oh * 3600 + om * 60);
    }
    if (p != s.size()) return false;
    seconds = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec - offset;
  } else {
    if (p != s.size()) return false;
    seconds = days_from_civil(y, mo, d) * 86400;
  }
  nanos = static_cast<int32_t>(frac);
  return true;
}

bool parse_order_value(const std::string& text, OrderValue& value) {
  const std::string s = trim(text);
  if (s.empty()) return false;
  // strtod would also take hex, "inf" and "nan"; allow plain decimals only.
  bool plain = true;
  for (char c : s) {
    if (!(is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) plain = false;
  }
  if (plain) {
    // A whole number that fits int64 stays exact: above 2^53 a double would
    // merge neighbouring values (nanosecond timestamps, say).
    const size_t first_digit = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (first_digit < s.size() &&
        std::all_of(s.begin() + static_cast<long>(first_digit), s.end(), is_digit)) {
      char* end = nullptr;
      errno = 0;
      const long long v = std::strtoll(s.c_str(), &end, 10);
      if (end == s.c_str() + s.size() && errno != ERANGE) {
        value = OrderValue();
        value.is_integer = true;
        value.integer = v;
        return true;
      }
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() + s.size() && errno != ERANGE && std::isfinite(v)) {
      value = OrderValue();
      value.number = v;
      return true;
    }
  }
  OrderValue t;
  t.is_time = true;
  if (!parse_iso8601(s, t.seconds, t.nanos)) return false;
  value = t;
  return true;
}

bool parse_session_gap(const std::string& text, SessionGap& gap, std::string& err) {
  err = "--session-gap takes a duration such as 45s, 30m, 2h or 1d (for a time order column) "
        "or a plain number (for a numeric one), not '" + text + "'";
  // Digits with an optional fraction, then an optional unit.
  size_t p = 0;
  while (p < text.size() && is_digit(text[p])) ++p;
  if (p < text.size() && text[p] == '.') {
    ++p;
    while (p < text.size() && is_digit(text[p])) ++p;
  }
  const std::string number = text.substr(0, p);
  if (number.empty() || number == "." || number.size() > 30) return false;
  const double value = std::strtod(number.c_str(), nullptr);
  SessionGap g;
  g.set = true;
  if (p == text.size()) {
    g.number = value;
    // The same number split exactly, for gaps between integer order values
    // (at most 30 digits: well within 128 bits).
    const size_t dot = number.find('.');
    for (size_t k = 0; k < std::min(dot, number.size()); ++k) {
      g.whole = g.whole * 10 + static_cast<unsigned>(number[k] - '0');
    }
    if (dot != std::string::npos) {
      g.fraction = std::strtod(("0" + number.substr(dot)).c_str(), nullptr);
    }
  } else {
    if (p + 1 != text.size()) return false;
    double unit;
    switch (text[p]) {
      case 's': unit = 1; break;
      case 'm': unit = 60; break;
      case 'h': unit = 3600; break;
      case 'd': unit = 86400; break;
      default: return false;
    }
    const double seconds = value * unit;
    if (!(seconds < 9e15)) return false;  // beyond any span of times
    g.is_duration = true;
    g.seconds = static_cast<int64_t>(seconds);
    g.nanos = static_cast<int32_t>(std::llround((seconds - static_cast<double>(g.seconds)) * 1e9));
    if (g.nanos >= 1000000000) {
      ++g.seconds;
      g.nanos -= 1000000000;
    }
  }
  gap = g;
  err.clear();
  return true;
}

namespace {

// A number as its floor and the rest in [0, 1), both exact: an integer is
// its own floor; a double's floor is a whole double and the rest of a
// double minus its floor is exact.  False for a double too large for the
// 128-bit floor (beyond any int64 by far).
struct SplitNumber {
  __int128 whole = 0;
  double fraction = 0;
};

bool split_number(const OrderValue& v, SplitNumber& out) {
  if (v.is_integer) {
    out.whole = v.integer;
    out.fraction = 0;
    return true;
  }
  const double whole = std::floor(v.number);
  if (!(std::fabs(whole) < 0x1p120)) return false;
  out.whole = static_cast<__int128>(whole);
  out.fraction = v.number - whole;
  return true;
}

double as_double(const OrderValue& v) {
  return v.is_integer ? static_cast<double>(v.integer) : v.number;
}

}  // namespace

int compare_order(const OrderValue& a, const OrderValue& b) {
  if (!a.is_time) {
    if (a.is_integer && b.is_integer) {
      return a.integer < b.integer ? -1 : (b.integer < a.integer ? 1 : 0);
    }
    // Integer against double: by floor, then by the rest, so that no
    // integer is rounded to the double's precision.
    SplitNumber x, y;
    if ((a.is_integer || b.is_integer) && split_number(a, x) && split_number(b, y)) {
      if (x.whole != y.whole) return x.whole < y.whole ? -1 : 1;
      return x.fraction < y.fraction ? -1 : (y.fraction < x.fraction ? 1 : 0);
    }
    // Two doubles, or an integer against a double far beyond int64 (which
    // no rounding of the integer can reach).
    const double u = as_double(a), w = as_double(b);
    return u < w ? -1 : (w < u ? 1 : 0);
  }
  if (a.seconds != b.seconds) return a.seconds < b.seconds ? -1 : 1;
  if (a.nanos != b.nanos) return a.nanos < b.nanos ? -1 : 1;
  return 0;
}

// ------------------------------------------------------------------ CSV input

namespace {

struct CsvState {
  const std::function<bool(CsvRecord&)>* on_record = nullptr;
  CsvRecord record;
  long line = 0;           // the physical line being fed to the parser
  bool in_record = false;  // a record has started and not yet ended
  bool stopped = false;    // on_record asked to stop
  unsigned char delimiter = ',';
};

CsvState* g_space_state = nullptr;  // libcsv's space callback takes no user data

int is_csv_space(unsigned char c) {
  // Blanks around unquoted fields are trimmed, except the delimiter itself
  // (a tab-separated file must keep its tabs as separators).
  const unsigned char delim = g_space_state ? g_space_state->delimiter : ',';
  return (c == ' ' || c == '\t') && c != delim;
}

void on_field(void* data, size_t len, void* user) {
  auto* st = static_cast<CsvState*>(user);
  if (st->stopped) return;
  if (!st->in_record) {
    st->in_record = true;
    st->record.line = st->line;
  }
  st->record.fields.emplace_back(static_cast<const char*>(data), len);
}

void on_record_end(int, void* user) {
  auto* st = static_cast<CsvState*>(user);
  if (!st->stopped) {
    if (!st->in_record) st->record.line = st->line;  // a record of one empty field
    if (!(*st->on_record)(st->record)) st->stopped = true;
  }
  st->record.fields.clear();
  st->in_record = false;
}

// A line that libcsv reads as no record at all: only blanks and line ends.
bool blank_line(const std::string& line) {
  for (char c : line) {
    if (c != '\r' && c != '\n' && !is_csv_space(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

bool read_csv(std::istream& in, const std::string& name, char delimiter,
              const std::function<bool(CsvRecord&)>& on_record, std::string& err) {
  csv_parser parser;
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
    err = name + ": cannot set up the CSV reader";
    return false;
  }
  CsvState st;
  st.on_record = &on_record;
  st.delimiter = static_cast<unsigned char>(delimiter);
  g_space_state = &st;
  csv_set_delim(&parser, st.delimiter);
  csv_set_space_func(&parser, is_csv_space);

  // The input is fed one physical line at a time so that every record can
  // be given the line on which it starts, even when quoted fields span lines.
  bool ok = true;
  std::string line;
  while (ok && !st.stopped && std::getline(in, line)) {
    ++st.line;
    if (!in.eof()) line.push_back('\n');
    if (!st.in_record && !blank_line(line)) {
      st.in_record = true;
      st.record.line = st.line;
    }
    try {
      if (csv_parse(&parser, line.data(), line.size(), on_field, on_record_end, &st) != line.size()) {
        err = name + ":" + std::to_string(st.line) + ": malformed CSV: " +
              csv_strerror(csv_error(&parser)) + " (stray or unbalanced quote)";
        ok = false;
      }
    } catch (...) {
      st.stopped = true;  // a record handler threw (out of memory); stop cleanly
      err = name + ": out of memory";
      ok = false;
    }
  }
  if (ok && !st.stopped) {
    if (in.bad()) {
      err = name + ": read error";
      ok = false;
    } else if (csv_fini(&parser, on_field, on_record_end, &st) != 0) {
      err = name + ":" + std::to_string(st.record.line) +
            ": malformed CSV: quoted field is never closed";
      ok = false;
    }
  }
  csv_free(&parser);
  g_space_state = nullptr;
  return ok && !st.stopped;
}

// ----------------------------------------------------------- event log to data

namespace {

struct Event {
  OrderValue order;
  int32_t code;
};

// Resolves a column given by header name or by 1-based position to a
// 0-based index; -1 if it names no column.
long resolve_column(const std::string& column, const std::vector<std::string>* header) {
  if (header) {
    for (size_t i = 0; i < header->size(); ++i) {
      if ((*header)[i] == column) return static_cast<long>(i);
    }
  }
  if (column.empty() || column.size() > 9) return -1;
  for (char c : column) {
    if (!is_digit(c)) return -1;
  }
  const long pos = std::strtol(column.c_str(), nullptr, 10);
  if (pos < 1) return -1;
  if (header && static_cast<size_t>(pos) > header->size()) return -1;
  return pos - 1;
}

// Whether `later` lies more than the gap after `earlier` (later >= earlier).
bool beyond_gap(const OrderValue& earlier, const OrderValue& later, const SessionGap& gap) {
  if (!gap.is_duration) {
    // later - earlier - gap = k + rest, with k a whole number and the rest
    // (three fractions) in (-2, 1): only k of 0 or 1 leaves the sign to the
    // fractions.  Exact wherever an integer takes part; two doubles keep
    // plain double arithmetic.
    SplitNumber a, b;
    if ((earlier.is_integer || later.is_integer) && split_number(earlier, a) &&
        split_number(later, b)) {
      const __int128 k = b.whole - a.whole - static_cast<__int128>(gap.whole);
      if (k >= 2) return true;
      if (k <= -1) return false;
      return static_cast<double>(k) + (b.fraction - a.fraction) > gap.fraction;
    }
    return as_double(later) - as_double(earlier) > gap.number;
  }
  int64_t seconds = later.seconds - earlier.seconds;
  int64_t nanos = static_cast<int64_t>(later.nanos) - earlier.nanos;
  if (nanos < 0) {
    --seconds;
    nanos += 1000000000;
  }
  return seconds > gap.seconds || (seconds == gap.seconds && nanos > gap.nanos);
}

}  // namespace

bool convert_event_log(std::istream& in, const std::string& name, const EventLogOptions& options,
                       EventLogResult& result, std::string& err) {
  result = EventLogResult();
  long col_seq = -1, col_order = -1, col_item = -1;
  bool have_columns = false;
  bool kind_known = false;  // whether the order column holds numbers or times is fixed
  bool kind_is_time = false;

  std::unordered_map<std::string, size_t> seq_index;
  std::unordered_map<std::string, int32_t> item_code;
  std::vector<std::vector<Event>> sequences;
  std::string fatal;

  auto resolve_all = [&](const std::vector<std::string>* header, long line) {
    const std::string* wanted[3] = {&options.seq_column, &options.order_column, &options.item_column};
    const char* what[3] = {"--seq", "--order", "--item"};
    long* cols[3] = {&col_seq, &col_order, &col_item};
    for (int k = 0; k < 3; ++k) {
      *cols[k] = resolve_column(*wanted[k], header);
      if (*cols[k] < 0) {
        fatal = name + ":" + std::to_string(line) + ": " + what[k] + " '" + *wanted[k] + "' " +
                (header ? "is neither a column name of the header nor a column position"
                        : "is not a column position (1, 2, ...)");
        return false;
      }
    }
    have_columns = true;
    return true;
  };

  auto on_record = [&](CsvRecord& rec) -> bool {
    // A record of one empty field is a line of blanks: nothing to read.
    if (rec.fields.size() == 1 && trim(rec.fields[0]).empty()) return true;
    if (!have_columns) {
      if (options.header) {
        // A byte-order mark before the first name is not part of it.
        std::string& first = rec.fields[0];
        if (first.compare(0, 3, "\xEF\xBB\xBF") == 0) first.erase(0, 3);
        for (std::string& f : rec.fields) f = trim(f);
        return resolve_all(&rec.fields, rec.line);
      }
      if (!resolve_all(nullptr, rec.line)) return false;
    }
    const std::string where = name + ":" + std::to_string(rec.line) + ": ";
    std::string why;
    const size_t need = static_cast<size_t>(std::max(col_seq, std::max(col_order, col_item))) + 1;
    OrderValue order;
    std::string seq_id, item;
    if (rec.fields.size() < need) {
      why = "missing field: the row has " + std::to_string(rec.fields.size()) +
            " field(s), " + std::to_string(need) + " are needed";
    } else {
      seq_id = rec.fields[col_seq];
      item = rec.fields[col_item];
      const std::string& order_text = rec.fields[col_order];
      if (trim(seq_id).empty()) {
        why = "empty sequence id";
      } else if (item.empty()) {
        why = "empty item";
      } else if (!parse_order_value(order_text, order)) {
        why = "order value '" + order_text + "' is neither a number nor an ISO-8601 time";
      } else if (kind_known && order.is_time != kind_is_time) {
        why = "order value '" + order_text + "' is a " + (order.is_time ? "time" : "number") +
              " but earlier rows hold " + (kind_is_time ? "times" : "numbers");
      }
    }
    if (!why.empty()) {
      if (!options.skip_bad) {
        fatal = where + why;
        return false;
      }
      ++result.bad_rows;
      result.bad_messages.push_back(where + why);
      return true;
    }
    kind_known = true;
    kind_is_time = order.is_time;

    const auto s = seq_index.emplace(seq_id, sequences.size());
    if (s.second) sequences.emplace_back();
    const auto it = item_code.emplace(item, static_cast<int32_t>(result.names.size()));
    if (it.second) {
      if (result.names.size() > static_cast<size_t>(INT32_MAX)) {
        fatal = where + "too many distinct items";
        return false;
      }
      result.names.push_back(item);
    }
    sequences[s.first->second].push_back(Event{order, it.first->second});
    ++result.events;
    return true;
  };

  if (!read_csv(in, name, options.delimiter, on_record, err)) {
    if (!fatal.empty()) err = fatal;
    return false;
  }
  if (!have_columns && options.header) {
    err = name + ": no header row";
    return false;
  }
  if (!have_columns) {
    // No data rows at all: still check the column options.
    if (!resolve_all(nullptr, 0)) {
      err = fatal;
      return false;
    }
  }

  const SessionGap& gap = options.session_gap;
  if (gap.set && !sequences.empty() && gap.is_duration != kind_is_time) {
    err = name + ": --session-gap " +
          (kind_is_time ? "needs a unit (s, m, h or d): the order column holds times"
                        : "takes a plain number: the order column holds numbers");
    return false;
  }
  std::vector<std::string> ids(sequences.size());
  for (const auto& s : seq_index) ids[s.second] = s.first;

  // Each sequence: events by order value (input order kept among equals),
  // equal values form one itemset, items ascending without repeats.  A
  // session ends where the next event lies more than the gap later.
  for (size_t k = 0; k < sequences.size(); ++k) {
    std::vector<Event>& events = sequences[k];
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
      return compare_order(a.order, b.order) < 0;
    });
    result.sequence_names.push_back(SequenceName{ids[k], 1});
    size_t i = 0;
    while (i < events.size()) {
      if (i > 0 && gap.set && beyond_gap(events[i - 1].order, events[i].order, gap)) {
        result.words.push_back(kEndSequence);
        result.sequence_names.push_back(SequenceName{ids[k], result.sequence_names.back().session + 1});
      }
      size_t j = i;
      std::vector<int32_t> items;
      while (j < events.size() && compare_order(events[i].order, events[j].order) == 0) {
        items.push_back(events[j].code);
        ++j;
      }
      std::sort(items.begin(), items.end());
      items.erase(std::unique(items.begin(), items.end()), items.end());
      result.words.insert(result.words.end(), items.begin(), items.end());
      result.words.push_back(kEndItemset);
      i = j;
    }
    result.words.push_back(kEndSequence);
  }
  result.sequences = static_cast<long>(result.sequence_names.size());
  return true;
}

}  // namespace qtools
