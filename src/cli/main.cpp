#include "cli/cli.h"

int main(int argc, char** argv) { return morvantile::cli::main(argc, argv); }
