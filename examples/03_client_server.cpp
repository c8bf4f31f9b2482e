// Example 03: a client and a server in two processes, sharing only files.
//
// The client holds the secret key. It writes the context, the public keys
// (a key directory) and its encrypted inputs to a folder, then starts the
// server: this same program, run again with "--server <folder>". The server
// reads the context, evaluates with keys loaded from the key directory on
// first use, and writes its encrypted result. The client reads the result
// and decrypts it with the secret key, which it kept as a 71-byte seed.
//
// Run: 03_client_server [folder]   (default: ./example_03_files; the files
// are left there to look at).
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;
namespace fs = std::filesystem;

namespace {

// The inputs, known to the client only.
Message inputX() {
    Message m(4); // 2^4 = 16 slots
    for (std::uint64_t i = 0; i < m.getSize(); ++i)
        m[i] = {0.05 * static_cast<double>(i), 0.3};
    return m;
}
Message inputY() {
    Message m(4);
    for (std::uint64_t i = 0; i < m.getSize(); ++i)
        m[i] = {0.7, -0.02 * static_cast<double>(i)};
    return m;
}

// The server: x * y + (x rotated left by 1), with nothing but public files.
int server(const fs::path &dir) {
    const auto ctx = makeContextFromFile((dir / "context.bin").string());
    // An evaluator on the key directory: each key is read from its file the
    // first time an operation needs it (the multiplication key right away).
    const HomEvaluator eval(ctx, (dir / "keys").string());
    Ciphertext x(ctx, false, true), y(ctx, false, true), rotated(ctx, false, true);
    x.load((dir / "x.ct").string());
    y.load((dir / "y.ct").string());

    Ciphertext out(ctx, false, true);
    eval.mult(x, y, out);           // reads "MultKey.bin"
    eval.leftRotate(x, 1, rotated); // reads "RotKey1.bin"
    eval.add(out, rotated, out);    // brings `rotated` down to out's level
    out.save((dir / "result.ct").string());
    std::printf("[server] computed x * y + rot(x, 1) at level %llu\n",
                static_cast<unsigned long long>(out.getLevel()));
    return 0;
}

void printSize(const fs::path &file, const char *what) {
    std::printf("  %-26s %-44s %10llu bytes\n", file.filename().string().c_str(), what,
                static_cast<unsigned long long>(fs::file_size(file)));
}

int client(const char *self, const fs::path &dir) {
    example::Checks checks;
    fs::remove_all(dir);
    fs::create_directories(dir / "keys"); // KeyPack::save needs the folder

    // Degree 2^12 with 5 primes: small and NOT secure (presets such as FGb
    // are; docs/presets.md lists their file sizes).
    const auto ctx = makeContext(12, 5, 58, 42, 58, 2);
    saveContextToFile(ctx, (dir / "context.bin").string());

    {
        const SecretKey secret_key(ctx);
        // The seed-only form stores the generator state the key was sampled
        // from; the full form stores its coefficients and residues.
        secret_key.saveSeedOnly((dir / "secret_key.seed").string());
        secret_key.save((dir / "secret_key_full.bin").string());

        KeyPack pack(ctx);
        const KeyGenerator keygen(ctx, secret_key, pack);
        keygen.genEncKey();
        keygen.genMultKey();
        keygen.genLeftRotKey(1);
        pack.save((dir / "keys").string()); // writes keys/PK/<name>.bin

        const Encryptor encryptor(ctx);
        Ciphertext ct(ctx, false, true);
        encryptor.encrypt(inputX(), pack, ct);
        ct.save((dir / "x.ct").string());
        encryptor.encrypt(inputY(), pack, ct);
        ct.save((dir / "y.ct").string());
    } // the client forgets everything but the files

    const std::string command = std::string("\"") + self + "\" --server \"" + dir.string() + "\"";
    checks.expectTrue("server process succeeded", std::system(command.c_str()) == 0);

    // Later, the client: the secret key again from its 71-byte seed.
    const SecretKey secret_key(ctx, (dir / "secret_key.seed").string());
    Ciphertext result(ctx, false, true);
    result.load((dir / "result.ct").string());
    Message got;
    Decryptor(ctx).decrypt(result, secret_key, got);

    const HomEvaluator plain(ctx); // message arithmetic needs no keys
    Message want, rotated;
    plain.mult(inputX(), inputY(), want);
    plain.leftRotate(inputX(), 1, rotated);
    plain.add(want, rotated, want);
    checks.expectClose("x * y + rot(x, 1) from the server", example::maxError(got, want), 1e-6);

    std::printf("\nFiles (degree %llu, %llu primes and %llu temporary primes):\n",
                static_cast<unsigned long long>(getDegree(ctx)),
                static_cast<unsigned long long>(getLength(ctx)),
                static_cast<unsigned long long>(getNumTP(ctx)));
    printSize(dir / "context.bin", "context (preset or sizes)");
    printSize(dir / "secret_key.seed", "secret key, seed only");
    printSize(dir / "secret_key_full.bin", "secret key, full");
    printSize(dir / "keys/PK/EncKey.bin", "public encryption key (mask as seed)");
    printSize(dir / "keys/PK/MultKey.bin", "multiplication key");
    printSize(dir / "keys/PK/RotKey1.bin", "rotation key for 1");
    printSize(dir / "x.ct", "ciphertext at the encryption level");
    printSize(dir / "result.ct", "result, one product later");
    return checks.finish();
}

} // namespace

int main(int argc, char **argv) {
    try {
        if (argc == 3 && std::string(argv[1]) == "--server")
            return server(argv[2]);
        return client(argv[0], argc > 1 ? fs::path(argv[1]) : fs::path("example_03_files"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
