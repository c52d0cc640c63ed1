#include "driver/Driver.h"

#include <iostream>

namespace ferrow {

int runDriver(const std::vector<std::string>&) {
    std::cerr << "ferrow: not built yet\n";
    return 1;
}

}  // namespace ferrow
