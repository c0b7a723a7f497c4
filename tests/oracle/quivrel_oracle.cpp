// quivrel-oracle DATA.bin SUPPORT: the closed patterns of a small dataset by
// brute force, one line "<(1 2)(3)> Support = 2" each, sorted as text, for
// end-to-end cases to compare with quivrel's pattern lines.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/oracle/closed_oracle.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: quivrel-oracle DATA.bin SUPPORT\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (f == nullptr) {
        perror(argv[1]);
        return 1;
    }
    std::vector<int32_t> words;
    unsigned char b[4];
    while (fread(b, 1, 4, f) == 4)
        words.push_back((int32_t)((uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 |
                                  (uint32_t)b[3] << 24));
    fclose(f);

    closed_oracle::Dataset db = closed_oracle::FromWords(words);
    double minSupport = (double)((long double)strtod(argv[2], nullptr) * (long double)db.size());
    std::set<std::string> lines;
    for (const auto& [p, support] : closed_oracle::ClosedPatterns(db, minSupport))
        lines.insert("<" + closed_oracle::Text(p) + "> Support = " + std::to_string(support));
    for (const std::string& line : lines) printf("%s\n", line.c_str());
    return 0;
}
