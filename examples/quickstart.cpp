// A tour of what the library offers so far.
#include "Quelt/Quelt.hpp"

#include <iostream>

int main() {
    using namespace Quelt;
    std::cout << "Quelt: host build, accelerators available: "
              << (CudaTools::isAvailable() ? "yes" : "no") << "\n";
    DeviceSpecificArray<std::uint64_t> words(8);
    for (std::uint64_t i = 0; i < words.size(); ++i)
        words[i] = i * i;
    std::cout << "A device array of " << words.size() << " words on the host, capacity "
              << words.capacityInBytes() << " bytes\n";
    return 0;
}
