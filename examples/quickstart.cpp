// A tour of what the library offers so far.
#include "Quelt/Quelt.hpp"
#include "Quelt/Context.hpp"

#include <algorithm>
#include <filesystem>
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

    // A ciphertext of a small custom context (degree 64, four primes), saved
    // to a file and read back into a ciphertext of the same context.
    {
        const auto context = makeContext(6, 4, 50, 40, 50, 2);
        CiphertextBase<EncryptionType::RLWE> ct(context, false, true);
        for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i)
            for (std::uint64_t j = 0; j <= ct.getLevel(); ++j)
                std::fill_n(ct.getPolyData(i, j), getDegree(context), i + j);
        const auto path = (std::filesystem::temp_directory_path() / "quelt_quickstart_ciphertext.bin").string();
        ct.save(path);
        CiphertextBase<EncryptionType::RLWE> back(context, false, true);
        back.load(path);
        std::cout << "A ciphertext of " << back.getNumPoly() << " polynomials at level " << back.getLevel()
                  << " takes " << std::filesystem::file_size(path) << " bytes on disk\n";
        std::filesystem::remove(path);
    }
    return 0;
}
