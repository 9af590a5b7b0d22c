// bench_extract ARCHIVE BUNDLE: the installer's extraction alone, ARCHIVE unpacked into BUNDLE.
#include "archive/PlArchive.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_extract ARCHIVE BUNDLE\n");
        return 2;
    }
    return PlArchive(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])).extract();
}
