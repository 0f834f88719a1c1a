#include "cli/app.hpp"

int main(int argc, char** argv) {
    return kelvo::cli::run(argc, argv);
}
