#include "demo/pellucet.h"

int main(int argc, char** argv) { pel::pellucetMain(argc, argv); }
