// A plain driver for the fuzz target: runs LLVMFuzzerTestOneInput once on
// each file named on the command line, so that the seed corpus is replayed
// by the ordinary test suite with the default compiler (no libFuzzer).  The
// target aborts on any wrong result, which fails the test.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            fprintf(stderr, "cannot read %s\n", argv[i]);
            return 2;
        }
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    fprintf(stderr, "replayed %d inputs\n", argc - 1);
    return 0;
}
