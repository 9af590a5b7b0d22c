#include "app/ApplicationMain.h"

#include <cstdlib>

int main(int argc, char **argv) {
    std::exit(applicationMain(argc, argv));
}
