// quivrel-convert fromcsv: order values, CSV reading and event grouping.
#include <gtest/gtest.h>

#include "event_log.h"
#include "tools_test_util.h"

using namespace tooltest;

namespace {

int64_t epoch(const std::string& text) {
  int64_t s = -1;
  int32_t ns = -1;
  EXPECT_TRUE(qtools::parse_iso8601(text, s, ns)) << text;
  return s;
}

bool iso_ok(const std::string& text) {
  int64_t s;
  int32_t ns;
  return qtools::parse_iso8601(text, s, ns);
}

int order_cmp(const std::string& a, const std::string& b) {
  qtools::OrderValue va, vb;
  EXPECT_TRUE(qtools::parse_order_value(a, va)) << a;
  EXPECT_TRUE(qtools::parse_order_value(b, vb)) << b;
  return qtools::compare_order(va, vb);
}

}  // namespace

TEST(ToolsOrderValue, IsoTimesReduceToOneInstant) {
  EXPECT_EQ(epoch("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(epoch("2000-03-01"), 951868800);
  EXPECT_EQ(epoch("2024-02-29T12:30:15"), 1709209815);
  EXPECT_EQ(epoch("1969-12-31T23:59:59Z"), -1);
  // The same instant written in different ways compares equal...
  EXPECT_EQ(order_cmp("2024-01-01T10:00:00Z", "2024-01-01 11:00:00+01:00"), 0);
  EXPECT_EQ(order_cmp("2024-01-01T10:00:00Z", "2024-01-01T05:30-0430"), 0);
  EXPECT_EQ(order_cmp("2024-01-01T10:00:00.5Z", "2024-01-01T10:00:00,500000000Z"), 0);
  EXPECT_EQ(order_cmp("2024-01-01T10:00Z", "2024-01-01T10:00:00.000Z"), 0);
  // ...and fractions and dates order correctly.
  EXPECT_LT(order_cmp("2024-01-01T10:00:00.1Z", "2024-01-01T10:00:00.12Z"), 0);
  EXPECT_GT(order_cmp("2024-01-02", "2024-01-01T23:59:59.999Z"), 0);
  for (const char* bad : {"2024-02-30", "2023-02-29", "2024-13-01", "2024-1-01", "2024-01-01T24:00:00",
                          "2024-01-01T10:60", "2024-01-01T10:00:00.Z", "2024-01-01T10:00:00Zjunk",
                          "2024-01-01T10", "2024-01-01T10:00+25:00", "24-01-01"}) {
    EXPECT_FALSE(iso_ok(bad)) << bad;
  }
}

TEST(ToolsOrderValue, NumbersArePlainDecimals) {
  EXPECT_EQ(order_cmp("2", "10"), -1);  // numeric, not text order
  EXPECT_EQ(order_cmp(" 1e3 ", "1000"), 0);
  EXPECT_EQ(order_cmp("-3.5", "-3"), -1);
  qtools::OrderValue v;
  for (const char* bad : {"", "  ", "0x10", "inf", "nan", "1e999", "12abc", "1,5"}) {
    EXPECT_FALSE(qtools::parse_order_value(bad, v)) << bad;
  }
}

TEST(ToolsFromCsv, QuotedFieldsEqualTimesDuplicatesAndUnsortedRows) {
  const std::string dir = scratch_dir();
  write_file(dir + "/ev.csv",
             "session,ts,page\n"
             "b,2024-05-01T10:00:03Z,\"Add to cart, fast\"\n"
             "a,2024-05-01T09:00:00Z,home\n"
             "b,2024-05-01T10:00:01Z,home\n"
             "a,2024-05-01T09:00:07Z,\"search\n"
             "results\"\n"
             "a,2024-05-01T09:00:07Z,product\n"
             "a,2024-05-01T09:00:07Z,\"search\n"
             "results\"\n"
             "b,2024-05-01T10:00:03Z,checkout\n"
             "a,2024-05-01T09:00:02Z,\"quote \"\"x\"\"\"\n"
             "b,2024-05-01T10:00:01.000Z,product\n");
  Outcome r = convert(dir, "fromcsv ev.csv ev.bin --seq session --order ts --item page");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "5\n") << "the largest item code";
  EXPECT_EQ(r.err, "");
  // Sequences in order of first appearance (b, then a); itemsets by time;
  // equal times form one itemset, ascending, without the duplicate event.
  EXPECT_EQ(convert(dir, "totext ev.bin").out, "1 3 -1 0 4 -1 -2\n1 -1 5 -1 2 3 -1 -2\n");
  EXPECT_EQ(read_file(dir + "/ev.items"),
            "0\tAdd to cart, fast\n1\thome\n2\tsearch\\nresults\n3\tproduct\n4\tcheckout\n"
            "5\tquote \"x\"\n"
            "seq\t0\tb\nseq\t1\ta\n");
}

TEST(ToolsFromCsv, PositionsDelimitersAndNumericOrder) {
  const std::string dir = scratch_dir();
  write_file(dir + "/semi.csv", "1;10;b\n1;5;a\n2;1;a\n1;10;a\n");
  Outcome r = convert(dir, "fromcsv semi.csv semi.bin --no-header --seq 1 --order 2 --item 3 --delimiter ';'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
  EXPECT_EQ(convert(dir, "totext semi.bin").out, "1 -1 0 1 -1 -2\n1 -1 -2\n");

  // Tab-separated, blanks inside a field kept; a header column by position;
  // --items chooses the dictionary path.
  write_file(dir + "/tab.tsv", "s\tt\ti\nq\t2\tx y\nq\t1\t z\n");
  r = convert(dir, "fromcsv tab.tsv tab.bin --seq s --order 2 --item i --delimiter tab --items names.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext tab.bin").out, "1 -1 0 -1 -2\n");
  EXPECT_EQ(read_file(dir + "/names.txt"), "0\tx y\n1\tz\nseq\t0\tq\n");

  // Without a header, names cannot select columns.
  r = convert(dir, "fromcsv semi.csv x.bin --no-header --seq s --order 2 --item 3 --delimiter ';'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--seq 's'"), std::string::npos) << r.err;
  r = convert(dir, "fromcsv tab.tsv x.bin --seq nope --order t --item i --delimiter tab");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--seq 'nope'"), std::string::npos) << r.err;
  EXPECT_FALSE(exists(dir + "/x.bin"));
}

TEST(ToolsFromCsv, MalformedRowsStopWithTheirLineOrAreSkipped) {
  const std::string dir = scratch_dir();
  write_file(dir + "/ev.csv",
             "s,t,i\n"
             "a,1,x\n"
             "a,2,\"y\n"
             "z\"\n"
             "a,3\n"           // line 5: a field is missing
             "b,later,z\n"     // line 6: the order value does not parse
             "b,4,w\n");
  Outcome r = convert(dir, "fromcsv ev.csv ev.bin --seq s --order t --item i");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("ev.csv:5: missing field", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(dir + "/ev.bin"));
  EXPECT_FALSE(exists(dir + "/ev.items"));

  r = convert(dir, "fromcsv ev.csv ev.bin --seq s --order t --item i --skip-bad");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  EXPECT_NE(r.err.find("ev.csv:5: missing field"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ev.csv:6: order value 'later'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped 2 malformed row(s)"), std::string::npos) << r.err;
  EXPECT_EQ(convert(dir, "totext ev.bin").out, "0 -1 1 -1 -2\n2 -1 -2\n");

  // Numbers and times do not mix in one order column.
  write_file(dir + "/mix.csv", "s,t,i\na,2024-01-01,x\na,5,y\n");
  r = convert(dir, "fromcsv mix.csv mix.bin --seq s --order t --item i");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("mix.csv:3: ", 0), 0u) << r.err;
}

TEST(ToolsFromCsv, BrokenQuotingIsAnErrorWithItsLine) {
  const std::string dir = scratch_dir();
  write_file(dir + "/q.csv", "s,t,i\na,1,x\na,2,y\"z\n");
  Outcome r = convert(dir, "fromcsv q.csv q.bin --seq s --order t --item i --skip-bad");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("q.csv:3: malformed CSV", 0), 0u) << r.err;

  write_file(dir + "/open.csv", "s,t,i\na,1,x\na,2,\"never closed\nb,3,y\n");
  r = convert(dir, "fromcsv open.csv q.bin --seq s --order t --item i");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("open.csv:3: malformed CSV: quoted field is never closed", 0), 0u) << r.err;
  EXPECT_FALSE(exists(dir + "/q.bin"));

  write_file(dir + "/empty.csv", "");
  r = convert(dir, "fromcsv empty.csv q.bin --seq s --order t --item i");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no header row"), std::string::npos) << r.err;
}

// Known visits: u1 browses three times (a 30-minute pause exactly is still the
// same visit, 31 minutes is not; the third visit is the next day), u2 once.
// Each visit becomes a sequence; the dictionary names it u1#1, u1#2, ...
TEST(ToolsFromCsv, SessionGapSplitsVisits) {
  const std::string dir = scratch_dir();
  write_file(dir + "/log.csv",
             "user,ts,page\n"
             "u1,2024-05-01T09:00:00Z,home\n"
             "u2,2024-05-01T09:05:00Z,home\n"
             "u1,2024-05-01T09:30:00Z,search\n"        // 30m after 09:00: same visit
             "u1,2024-05-01T10:01:00Z,cart\n"          // 31m after 09:30: new visit
             "u2,2024-05-01T09:05:00Z,deals\n"         // same instant: same itemset
             "u1,2024-05-01T10:01:00.5Z,pay\n"
             "u1,2024-05-02T08:00:00Z,home\n");        // next day: new visit
  Outcome r = convert(dir, "fromcsv log.csv log.bin --seq user --order ts --item page --session-gap 30m");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext log.bin").out,
            "0 -1 1 -1 -2\n2 -1 4 -1 -2\n0 -1 -2\n0 3 -1 -2\n");
  EXPECT_EQ(read_file(dir + "/log.items"),
            "0\thome\n1\tsearch\n2\tcart\n3\tdeals\n4\tpay\n"
            "seq\t0\tu1\t1\nseq\t1\tu1\t2\nseq\t2\tu1\t3\nseq\t3\tu2\t1\n");
  // The same gap in hours and in seconds, and a gap just below 30 minutes.
  r = convert(dir, "fromcsv log.csv h.bin --seq user --order ts --item page --session-gap 0.5h");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/h.bin"), read_file(dir + "/log.bin"));
  r = convert(dir, "fromcsv log.csv s.bin --seq user --order ts --item page --session-gap 1799.5s");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext s.bin").out,
            "0 -1 -2\n1 -1 -2\n2 -1 4 -1 -2\n0 -1 -2\n0 3 -1 -2\n");

  // A numeric order column takes a plain number.
  write_file(dir + "/num.csv", "s,t,i\na,1,x\na,3,y\na,6,z\n");
  r = convert(dir, "fromcsv num.csv num.bin --seq s --order t --item i --session-gap 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext num.bin").out, "0 -1 1 -1 -2\n2 -1 -2\n");

  // Unit and column kind must agree; a malformed gap is refused up front.
  struct Bad { const char* file; const char* gap; const char* says; } bad[] = {
      {"num.csv", "2m", "takes a plain number"},
      {"log.csv", "30", "needs a unit"},
      {"log.csv", "30x", "takes a duration"},
      {"log.csv", "-5m", "takes a duration"},
      {"log.csv", "m", "takes a duration"},
  };
  for (const Bad& b : bad) {
    r = convert(dir, std::string("fromcsv ") + b.file + " bad.bin --seq 1 --order 2 --item 3 --session-gap " + b.gap);
    EXPECT_NE(r.status, 0) << b.gap;
    EXPECT_NE(r.err.find(b.says), std::string::npos) << b.gap << ": " << r.err;
    EXPECT_FALSE(exists(dir + "/bad.bin")) << b.gap;
  }
}

// Nanosecond timestamps lie beyond 2^53, where a double holds only every
// second integer: neighbours must stay apart, in order, and a gap of 0
// must split them.  A decimal among integers is compared exactly too.
TEST(ToolsFromCsv, IntegerOrderValuesBeyondDoublePrecision) {
  EXPECT_EQ(order_cmp("1700000000123456790", "1700000000123456789"), 1);
  EXPECT_EQ(order_cmp("9007199254740993", "9007199254740992.0"), 1);  // 2^53 + 1
  EXPECT_EQ(order_cmp("9007199254740992", "9.007199254740992e15"), 0);
  EXPECT_EQ(order_cmp("3", "2.5"), 1);

  const std::string dir = scratch_dir();
  write_file(dir + "/ns.csv",
             "s,t,i\n"
             "a,1700000000123456790,y\n"
             "a,1700000000123456789,x\n"
             "b,9007199254740993,x\n"
             "b,9.00719925474099e15,y\n");  // 3 below it
  Outcome r = convert(dir, "fromcsv ns.csv ns.bin --seq s --order t --item i");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext ns.bin").out, "1 -1 0 -1 -2\n0 -1 1 -1 -2\n");
  r = convert(dir, "fromcsv ns.csv gap0.bin --seq s --order t --item i --session-gap 0");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext gap0.bin").out, "1 -1 -2\n0 -1 -2\n0 -1 -2\n1 -1 -2\n");
  // 3 apart: split by 2.9, not by 3.
  r = convert(dir, "fromcsv ns.csv gap29.bin --seq s --order t --item i --session-gap 2.9");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(convert(dir, "totext gap29.bin").out, "1 -1 0 -1 -2\n0 -1 -2\n1 -1 -2\n");
  r = convert(dir, "fromcsv ns.csv gap3.bin --seq s --order t --item i --session-gap 3");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/gap3.bin"), read_file(dir + "/ns.bin"));
}
