#include <string>
#include <vector>

#include "driver/Driver.h"

int main(int argc, char** argv) {
    return ferrow::runDriver(std::vector<std::string>(argv + 1, argv + argc));
}
