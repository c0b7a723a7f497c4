// A brute-force closed sequential pattern miner, the reference that quivrel's
// output is checked against: slow, plain and independent of quivrel's code.
//
// A dataset is read from its words as quivrel reads them: an itemset is the
// set of its codes (a run of equal codes is one item), empty itemsets match
// nothing, and an empty sequence counts towards the number of sequences but
// supports no pattern.
#ifndef QUIVREL_CLOSED_ORACLE_H
#define QUIVREL_CLOSED_ORACLE_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace closed_oracle {

using Itemset = std::vector<int>;  // ascending, no repeats
using Pattern = std::vector<Itemset>;
using Dataset = std::vector<Pattern>;  // sequences: non-empty itemsets only

// The sequences of well-formed dataset words.
inline Dataset FromWords(const std::vector<int32_t>& words) {
    Dataset db;
    Pattern seq;
    Itemset set;
    for (int32_t w : words) {
        if (w >= 0) {
            set.push_back(w);
        } else if (w == -1) {
            std::sort(set.begin(), set.end());
            set.erase(std::unique(set.begin(), set.end()), set.end());
            if (!set.empty()) seq.push_back(set);
            set.clear();
        } else {
            db.push_back(seq);
            seq.clear();
        }
    }
    return db;
}

// Whether `p` is contained in `seq`: its itemsets are subsets of itemsets of
// the sequence, in order.  Matching each as early as possible decides it.
inline bool Contains(const Pattern& seq, const Pattern& p) {
    size_t k = 0;
    for (size_t i = 0; i < seq.size() && k < p.size(); i++) {
        if (std::includes(seq[i].begin(), seq[i].end(), p[k].begin(), p[k].end())) k++;
    }
    return k == p.size();
}

inline int Support(const Dataset& db, const Pattern& p) {
    int n = 0;
    for (const Pattern& s : db) n += Contains(s, p) ? 1 : 0;
    return n;
}

// "(1 2)(3)"
inline std::string Text(const Pattern& p) {
    std::string t;
    for (const Itemset& s : p) {
        t += "(";
        for (size_t i = 0; i < s.size(); i++) t += (i ? " " : "") + std::to_string(s[i]);
        t += ")";
    }
    return t;
}

namespace detail {

// Every frequent pattern that grows from `p`, each reached once: an item
// above the last one joins the last itemset, or any item starts a new one.
inline void MineAll(const Dataset& db, const std::vector<int>& items, double minSupport,
                    Pattern& p, std::map<Pattern, int>& out) {
    for (int x : items) {
        for (int way = 0; way < 2; way++) {
            if (way == 0 && (p.empty() || p.back().back() >= x)) continue;
            if (way == 0) {
                p.back().push_back(x);
            } else {
                p.push_back(Itemset{x});
            }
            int support = Support(db, p);
            if (support > 0 && support >= minSupport) {
                out[p] = support;
                MineAll(db, items, minSupport, p, out);
            }
            if (way == 0) {
                p.back().pop_back();
            } else {
                p.pop_back();
            }
        }
    }
}

// Whether some pattern with one item more than `p` has the same support.
// A longer pattern of equal support implies one of these (supports shrink
// along any chain of one-item growths), and it is frequent, so in `all`.
inline bool HasEqualOneItemGrowth(const std::map<Pattern, int>& all, const Pattern& p,
                                  int support, const std::vector<int>& items) {
    auto same = [&](const Pattern& q) {
        auto it = all.find(q);
        return it != all.end() && it->second == support;
    };
    for (int x : items) {
        for (size_t i = 0; i < p.size(); i++) {
            if (std::binary_search(p[i].begin(), p[i].end(), x)) continue;
            Pattern q = p;
            q[i].insert(std::upper_bound(q[i].begin(), q[i].end(), x), x);
            if (same(q)) return true;
        }
        for (size_t i = 0; i <= p.size(); i++) {
            Pattern q = p;
            q.insert(q.begin() + (long)i, Itemset{x});
            if (same(q)) return true;
        }
    }
    return false;
}

}  // namespace detail

// The closed patterns whose support reaches `minSupport` (an absolute count),
// with their supports.
inline std::map<Pattern, int> ClosedPatterns(const Dataset& db, double minSupport) {
    std::vector<int> items;
    for (const Pattern& s : db)
        for (const Itemset& set : s) items.insert(items.end(), set.begin(), set.end());
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());

    std::map<Pattern, int> all;
    Pattern empty;
    detail::MineAll(db, items, minSupport, empty, all);
    std::map<Pattern, int> closed;
    for (const auto& [p, support] : all) {
        if (!detail::HasEqualOneItemGrowth(all, p, support, items)) closed[p] = support;
    }
    return closed;
}

// Reads a result line "<(1 2)(3)>  Num= 5 Support = 2   ItemsetNumber = 2";
// false for any other line.
inline bool ParseResultLine(const std::string& line, Pattern& p, int& support, int& itemsets) {
    if (line.empty() || line[0] != '<') return false;
    size_t close = line.find('>');
    size_t at = line.find("Support = ");
    size_t sets = line.find("ItemsetNumber = ");
    if (close == std::string::npos || at == std::string::npos || sets == std::string::npos)
        return false;
    p.clear();
    for (size_t i = 1; i < close; i++) {
        if (line[i] == '(') {
            p.emplace_back();
        } else if (line[i] >= '0' && line[i] <= '9' && !p.empty()) {
            p.back().push_back(atoi(line.c_str() + i));
            while (line[i + 1] >= '0' && line[i + 1] <= '9') i++;
        }
    }
    support = atoi(line.c_str() + at + 10);
    itemsets = atoi(line.c_str() + sets + 16);
    return true;
}

}  // namespace closed_oracle

#endif
