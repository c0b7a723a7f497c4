#include "driver/1LPrefixSpan.h"

int main(int argc, char** argv) {
    return QuivrelMain(argc, argv);
}
