// A tour of what the library offers so far: a context made from a named
// preset, its parameters, a message encoded into a plaintext and back, and
// the message encrypted with a public key and decrypted.
#include "Quelt/Quelt.hpp"

#include "context/ContextContent.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

namespace {

const char *securityName(Quelt::SecurityLevel level) {
    switch (level) {
    case Quelt::SecurityLevel::SL128:
        return "128-bit";
    case Quelt::SecurityLevel::SL192:
        return "192-bit";
    case Quelt::SecurityLevel::SL256:
        return "256-bit";
    default:
        return "below 128-bit";
    }
}

} // namespace

int main() {
    using namespace Quelt;
    std::cout << "Quelt: host build, accelerators available: "
              << (CudaTools::isAvailable() ? "yes" : "no") << "\n\n";

    const auto ctx = makeContext(ParameterPreset::FGb);
    std::cout << "Context of preset " << getParameterName(ctx) << "\n"
              << "  ring degree N      : " << getDegree(ctx) << " ("
              << (std::uint64_t{1} << getLogFullSlots(ctx)) << " slots)\n"
              << "  levels             : " << getLength(ctx) << " (fresh ciphertexts at level "
              << getEncryptionLevel(ctx) << ")\n"
              << "  temporary primes   : " << getNumTP(ctx) << ", gadget rank "
              << getGadgetRank(ctx) << "\n"
              << "  security level     : " << securityName(getSecurityLevel(ctx)) << "\n"
              << "  bootstrappable     : " << (isBootstrappableParameter(ctx) ? "yes" : "no")
              << "\n"
              << "  identity hash      : 0x" << std::hex << ctx->getHash() << std::dec << "\n";

    // Prime sizes in chain order: base, quantize, then temporary primes.
    const std::vector<std::uint64_t> primes = getPrimeList(ctx);
    std::cout << "  prime sizes (bits) :";
    for (std::size_t i = 0; i < primes.size(); ++i) {
        if (i == getLength(ctx))
            std::cout << " |";
        std::cout << " " << std::bit_width(primes[i]);
    }
    std::cout << "\n  log2 scale, level 0 and top: " << getDefaultScaleFactorList(ctx).front()
              << ", " << getDefaultScaleFactorList(ctx).back() << "\n\n";

    // Eight slots encoded into a plaintext at the encryption level and
    // decoded again.
    Message message(3);
    for (std::uint64_t i = 0; i < message.getSize(); ++i)
        message[i] =
            std::complex<double>(static_cast<double>(i) + 0.5, -static_cast<double>(i) / 4);
    const EnDecoder encoder(ctx);
    const Plaintext plaintext = encoder.encode(message);
    const Message decoded = encoder.decode(plaintext);
    double max_error = 0.0;
    for (std::uint64_t i = 0; i < message.getSize(); ++i)
        max_error = std::max(max_error, std::abs(decoded[i] - message[i]));
    std::cout << "Slots (" << message.getSize() << ") encoded at level " << plaintext.getLevel()
              << " and decoded:\n"
              << "  slot 3 before " << message[3] << ", after " << decoded[3] << "\n"
              << "  largest round-trip error: " << max_error << "\n";

    // The same slots encrypted with the public key that a key pack holds and
    // decrypted with the secret key it was made from.
    const SecretKeyBase<EncryptionType::RLWE> secretKey(ctx);
    KeyPack pack(ctx);
    {
        std::stringstream record;
        EncryptionKey(ctx, secretKey).save(record);
        pack.loadEncKey(record);
    }
    CiphertextBase<EncryptionType::RLWE> encrypted(ctx, false, true);
    Encryptor(ctx).encrypt(message, pack, encrypted);
    Message decrypted;
    Decryptor(ctx).decrypt(encrypted, secretKey, decrypted);
    double encryption_error = 0.0;
    for (std::uint64_t i = 0; i < message.getSize(); ++i)
        encryption_error = std::max(encryption_error, std::abs(decrypted[i] - message[i]));
    std::cout << "Encrypted (" << encrypted.getNumPoly() << " polynomials at level "
              << encrypted.getLevel() << ") and decrypted:\n"
              << "  slot 3 after " << decrypted[3] << "\n"
              << "  largest error: " << encryption_error << "\n";

    // A ciphertext of a small custom context (degree 64, four primes), saved
    // to a file and read back into a ciphertext of the same context.
    {
        const auto small = makeContext(6, 4, 50, 40, 50, 2);
        CiphertextBase<EncryptionType::RLWE> ct(small, false, true);
        for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i)
            for (std::uint64_t j = 0; j <= ct.getLevel(); ++j)
                std::fill_n(ct.getPolyData(i, j), getDegree(small), i + j);
        const auto path =
            (std::filesystem::temp_directory_path() / "quelt_quickstart_ciphertext.bin").string();
        ct.save(path);
        CiphertextBase<EncryptionType::RLWE> back(small, false, true);
        back.load(path);
        std::cout << "\nA ciphertext of " << back.getNumPoly() << " polynomials at level "
                  << back.getLevel() << " saved and reloaded: " << std::filesystem::file_size(path)
                  << " bytes on disk\n";
        std::filesystem::remove(path);
    }
    return max_error < 1e-9 && encryption_error < 1e-6 ? 0 : 1;
}
