#include "app/tessaray_main.h"

int main(int argc, char** argv) {
    return corva::tessarayMain(argc, argv);
}
