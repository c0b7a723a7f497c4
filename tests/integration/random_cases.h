// Small random datasets and the check of a result against the brute-force
// closed set, shared by the whole-run exactness tests.
#ifndef QUIVREL_TESTS_RANDOM_CASES_H
#define QUIVREL_TESTS_RANDOM_CASES_H

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/oracle/closed_oracle.h"

struct RandomCase {
    std::vector<int> words;
    int maxItem;
    double support;
};

// Three shapes of small data over a handful of codes, by `round`: a few
// sequences; the same with one item per itemset (the shape that the
// projection has shortcuts for); many sequences, half of them empty, so that
// the entries of a projection lie many sequences apart.
inline RandomCase MakeCase(std::mt19937& rng, int round) {
    static const double supports[] = {0.3, 0.5, 0.7, 1.0};
    const bool oneItemPerItemset = round % 3 == 1;
    const bool spread = round % 3 == 2;
    RandomCase c;
    c.maxItem = 2 + (int)(rng() % 4);
    c.support = supports[rng() % 4] * (spread ? 0.5 : 1.0);
    int sequences = spread ? 10 + (int)(rng() % 15) : 2 + (int)(rng() % 6);
    for (int s = 0; s < sequences; s++) {
        bool empty = spread ? rng() % 2 == 0 : rng() % 12 == 0;
        int itemsets = empty ? 0 : 1 + (int)(rng() % 5);
        for (int i = 0; i < itemsets; i++) {
            if (rng() % 15 != 0) {  // else an empty itemset
                std::set<int> items;
                int k = oneItemPerItemset ? 1 : 1 + (int)(rng() % 3);
                for (int j = 0; j < k; j++) items.insert((int)(rng() % (c.maxItem + 1)));
                for (int item : items) {
                    c.words.push_back(item);
                    if (!oneItemPerItemset && rng() % 6 == 0) c.words.push_back(item);  // a run
                }
            }
            c.words.push_back(-1);
        }
        c.words.push_back(-2);
    }
    return c;
}

inline std::string DatasetText(const std::vector<int>& words) {
    std::ostringstream o;
    for (int w : words) o << w << (w == -2 ? "\n" : " ");
    return o.str();
}

// The brute-force closed set of a case.
inline std::map<closed_oracle::Pattern, int> ClosedSetOf(const RandomCase& c) {
    std::vector<int32_t> words(c.words.begin(), c.words.end());
    closed_oracle::Dataset db = closed_oracle::FromWords(words);
    return closed_oracle::ClosedPatterns(db, c.support * (double)db.size());
}

// Empty when the pattern lines of `result` are exactly the closed set
// `truth` of the dataset with true supports and itemset counts, else what
// differs.
inline std::string CompareWithClosedSet(const std::string& result, const RandomCase& c,
                                        const std::map<closed_oracle::Pattern, int>& truth) {
    using closed_oracle::Pattern;

    std::ostringstream diff;
    std::map<Pattern, int> printed;
    std::istringstream in(result);
    std::string line;
    while (std::getline(in, line)) {
        Pattern p;
        int support = 0, itemsets = 0;
        if (!closed_oracle::ParseResultLine(line, p, support, itemsets)) continue;
        if (itemsets != (int)p.size()) diff << "wrong itemset count: " << line << "\n";
        if (!printed.emplace(p, support).second) diff << "printed twice: " << line << "\n";
    }
    for (const auto& [p, support] : printed) {
        auto it = truth.find(p);
        if (it == truth.end())
            diff << "not closed: " << closed_oracle::Text(p) << " " << support << "\n";
        else if (it->second != support)
            diff << "support of " << closed_oracle::Text(p) << ": " << support << ", truth "
                 << it->second << "\n";
    }
    for (const auto& [p, support] : truth)
        if (printed.count(p) == 0) diff << "missing: " << closed_oracle::Text(p) << " " << support << "\n";
    if (diff.str().empty()) return "";
    return diff.str() + "support " + std::to_string(c.support) + ", dataset:\n" +
           DatasetText(c.words);
}

// The same against the case's closed set.
inline std::string CompareWithClosedSet(const std::string& result, const RandomCase& c) {
    return CompareWithClosedSet(result, c, ClosedSetOf(c));
}

#endif
