// aurelo-release: makes the release signing key, and signs and publishes an application bundle
// as an update package with its manifest, in a folder that the managed service serves under
// /updates/.

#include "ReleasePackager.hpp"

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace aurelo::release;

constexpr const char* kUsage =
    "usage:\n"
    "  aurelo-release keygen PRIVATE-KEY.pem\n"
    "      Creates a new release key (readable by you only) and prints its public half, the\n"
    "      value of -DAURELO_UPDATE_PUBLIC_KEY=… for the application's build.\n"
    "  aurelo-release public-key PRIVATE-KEY.pem\n"
    "      Prints the public half of an existing key.\n"
    "  aurelo-release publish --key PRIVATE-KEY.pem --bundle BUNDLE.app --out FOLDER\n"
    "                         [--notes TEXT | --notes-file FILE]\n"
    "      Signs a copy of the bundle, writes FOLDER/AureloTranslator-<version>-<build>.zip and\n"
    "      FOLDER/latest.json (downloadPath \"/updates/<zip>\"). Point FOLDER at the service's\n"
    "      updates/ data folder.\n";

int fail(const std::string& message) {
    std::cerr << "aurelo-release: " << message << "\n";
    return 1;
}

int publish(const std::vector<std::string>& args) {
    std::optional<std::string> key, bundle, out, notes, notesFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto value = [&]() -> std::optional<std::string> {
            return i + 1 < args.size() ? std::optional(args[++i]) : std::nullopt;
        };
        const std::string& option = args[i];
        std::optional<std::string>* target = option == "--key"          ? &key
                                             : option == "--bundle"     ? &bundle
                                             : option == "--out"        ? &out
                                             : option == "--notes"      ? &notes
                                             : option == "--notes-file" ? &notesFile
                                                                        : nullptr;
        if (!target)
            return fail("unknown option " + option + "\n" + kUsage);
        *target = value();
        if (!*target)
            return fail(option + " needs a value");
    }
    if (!key || !bundle || !out)
        return fail(std::string("publish needs --key, --bundle and --out\n") + kUsage);
    if (notes && notesFile)
        return fail("give --notes or --notes-file, not both");
    if (notesFile) {
        std::ifstream in(*notesFile, std::ios::binary);
        if (!in)
            return fail("cannot read " + *notesFile);
        notes = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto signingKey = readPrivateKey(*key);
    if (!signingKey)
        return fail(signingKey.error());
    auto release = publishRelease(*bundle, *signingKey, *out, notes.value_or(""));
    if (!release)
        return fail(release.error());
    std::cout << "version " << release->version << " build " << release->build << "\n"
              << "package " << release->archive.string() << "\n"
              << "sha256 " << release->sha256 << "\n"
              << "manifest " << release->manifest.string() << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << kUsage;
        return args.empty() ? 1 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "keygen" && args.size() == 1) {
        auto key = generateSigningKey();
        if (!key)
            return fail("cannot generate a key");
        if (auto written = writePrivateKey(key, args[0]); !written)
            return fail(written.error());
        std::cout << publicKeyHex(key) << "\n";
        return 0;
    }
    if (command == "public-key" && args.size() == 1) {
        auto key = readPrivateKey(args[0]);
        if (!key)
            return fail(key.error());
        std::cout << publicKeyHex(*key) << "\n";
        return 0;
    }
    if (command == "publish")
        return publish(args);
    return fail(std::string("unknown command\n") + kUsage);
}
