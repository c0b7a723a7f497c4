// Runs the real quivrel binary on a few hundred small random datasets and
// recomputes by brute force the support of every pattern it prints.  Each
// printed support must be the true support and reach the threshold.
//
// It also mines the closed patterns by brute force and reports (without
// failing) where the printed set differs, with the smallest such dataset:
// the tree's equivalence shortcut is a heuristic, and the report shows where
// it gives way.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Itemset = std::vector<int>;     // ascending, no repeats
using Sequence = std::vector<Itemset>;
using Pattern = std::vector<Itemset>;

bool Subset(const Itemset& small, const Itemset& big) {
    return std::includes(big.begin(), big.end(), small.begin(), small.end());
}

// Greedy earliest matching is optimal for containment of itemset sequences.
bool Contains(const std::vector<Itemset>& seq, const Pattern& p) {
    size_t k = 0;
    for (size_t i = 0; i < seq.size() && k < p.size(); i++) {
        if (Subset(p[k], seq[i])) k++;
    }
    return k == p.size();
}

int SupportOf(const std::vector<Sequence>& db, const Pattern& p) {
    int n = 0;
    for (const Sequence& s : db) n += Contains(s, p) ? 1 : 0;
    return n;
}

std::string Text(const Pattern& p) {
    std::string t;
    for (const Itemset& s : p) {
        t += "(";
        for (size_t i = 0; i < s.size(); i++) t += (i ? " " : "") + std::to_string(s[i]);
        t += ")";
    }
    return t;
}

// All frequent patterns, by depth-first extension with every item both ways.
void MineAll(const std::vector<Sequence>& db, int maxItem, double minSup, Pattern& p,
             std::map<Pattern, int>& out) {
    for (int x = 0; x <= maxItem; x++) {
        for (int way = 0; way < 2; way++) {
            Pattern q = p;
            if (way == 0) {
                if (q.empty() || q.back().back() >= x) continue;
                q.back().push_back(x);  // joins the last itemset
            } else {
                q.push_back(Itemset{x});  // starts a new itemset
            }
            int sup = SupportOf(db, q);
            if (sup >= minSup && sup > 0) {
                out[q] = sup;
                MineAll(db, maxItem, minSup, q, out);
            }
        }
    }
}

std::set<Pattern> ClosedOf(const std::map<Pattern, int>& all) {
    std::set<Pattern> closed;
    for (const auto& [p, sup] : all) {
        bool isClosed = true;
        for (const auto& [q, qsup] : all) {
            if (qsup == sup && q != p && Contains(q, p)) {
                isClosed = false;
                break;
            }
        }
        if (isClosed) closed.insert(p);
    }
    return closed;
}

struct PrintedPattern {
    Pattern pattern;
    int support;
    int itemsets;
};

// Parses "<(1 2)(3)>  Num= 5 Support = 2   ItemsetNumber = 2".
bool ParseLine(const std::string& line, PrintedPattern& out) {
    if (line.empty() || line[0] != '<') return false;
    size_t close = line.find('>');
    std::string body = line.substr(1, close - 1);
    out.pattern.clear();
    std::string cur;
    Itemset set;
    for (char c : body) {
        if (c == '(') {
            set.clear();
        } else if (c == ' ' || c == ')') {
            if (!cur.empty()) set.push_back(std::stoi(cur));
            cur.clear();
            if (c == ')') out.pattern.push_back(set);
        } else {
            cur += c;
        }
    }
    size_t s = line.find("Support = ");
    size_t n = line.find("ItemsetNumber = ");
    out.support = std::stoi(line.substr(s + 10));
    out.itemsets = std::stoi(line.substr(n + 16));
    return true;
}

std::string DatasetText(const std::vector<Sequence>& db) {
    std::ostringstream o;
    for (const Sequence& s : db) {
        for (const Itemset& is : s) {
            for (int x : is) o << x << ' ';
            o << "-1 ";
        }
        o << "-2\n";
    }
    return o.str();
}

TEST(BruteForce, PrintedSupportsAreTrueSupportsOnRandomData) {
    char tmpl[] = "/tmp/quivrel-brute.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    std::mt19937 rng(12345);
    const double supports[] = {0.3, 0.5, 0.7, 1.0};
    int runs = 0, mismatches = 0;
    std::string smallest;
    size_t smallestWords = SIZE_MAX;

    for (int round = 0; round < 300; round++) {
        int maxItem = 2 + (int)(rng() % 4);
        std::vector<Sequence> db(2 + rng() % 6);
        std::vector<int32_t> words;
        for (Sequence& s : db) {
            s.resize(1 + rng() % 5);
            for (Itemset& is : s) {
                std::set<int> items;
                int k = 1 + (int)(rng() % 3);
                for (int j = 0; j < k; j++) items.insert((int)(rng() % (maxItem + 1)));
                is.assign(items.begin(), items.end());
                words.insert(words.end(), is.begin(), is.end());
                words.push_back(-1);
            }
            words.push_back(-2);
        }
        double support = supports[rng() % 4];
        double minSup = support * (double)db.size();

        std::string data = dir + "/data.bin";
        FILE* f = fopen(data.c_str(), "wb");
        fwrite(words.data(), 4, words.size(), f);
        fclose(f);
        char cmd[512];
        snprintf(cmd, sizeof cmd, "cd '%s' && '%s' data.bin %g %d > stdout.txt 2>&1", dir.c_str(),
                 QUIVREL_BIN_PATH, support, maxItem);
        ASSERT_EQ(system(cmd), 0) << DatasetText(db);
        runs++;

        std::ifstream in(dir + "/ClosedMaxset.txt");
        std::string line;
        std::set<Pattern> printed;
        while (std::getline(in, line)) {
            PrintedPattern pp;
            if (!ParseLine(line, pp)) continue;
            int truth = SupportOf(db, pp.pattern);
            ASSERT_EQ(pp.support, truth) << line << "\n" << DatasetText(db) << "support " << support;
            ASSERT_GE(pp.support, minSup) << line;
            ASSERT_EQ(pp.itemsets, (int)pp.pattern.size()) << line;
            printed.insert(pp.pattern);
        }

        std::map<Pattern, int> all;
        Pattern empty;
        MineAll(db, maxItem, minSup, empty, all);
        std::set<Pattern> closed = ClosedOf(all);
        if (closed != printed) {
            mismatches++;
            if (words.size() < smallestWords) {
                smallestWords = words.size();
                std::ostringstream o;
                o << "support " << support << ", item count " << maxItem << "\n"
                  << DatasetText(db) << "printed:";
                for (const Pattern& p : printed) o << ' ' << Text(p);
                o << "\nclosed:";
                for (const Pattern& p : closed) o << ' ' << Text(p);
                smallest = o.str();
            }
        }
    }
    std::string cleanup = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cleanup.c_str()), 0);
    printf("%d runs; printed set differs from the brute-force closed set in %d\n", runs, mismatches);
    if (!smallest.empty()) printf("smallest such dataset:\n%s\n", smallest.c_str());
}

}  // namespace
