#include "qbun_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "package_writer.h"
#include "vesk/core/file_util.h"
#include "vesk/core/package/opened_file.h"
#include "vesk/core/package/package_diagnosis.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/package/package_public_key.h"
#include "vesk/core/package/unzip_helper.h"

namespace vesk::qbun {
namespace {

constexpr char kUsage[] =
    "usage: qbun keygen DIR                          make DIR/package_private.pem and\n"
    "                                                DIR/package_public.pem (2048-bit RSA)\n"
    "       qbun pack DIR -o FILE --key PRIVATE.pem [--exclude PATTERN]...\n"
    "                                                pack and sign a directory (dotfiles\n"
    "                                                and FILE itself are left out)\n"
    "       qbun verify FILE [--key PUBLIC.pem]      check header and signature\n"
    "                                                (default: the built-in key)\n"
    "       qbun list FILE                           list the entries\n"
    "       qbun cat FILE ENTRY                      write one entry to stdout\n"
    "       qbun --version\n"
    "list and cat check the header only, not the signature.\n";

constexpr char kPrivateKeyFile[] = "package_private.pem";
constexpr char kPublicKeyFile[] = "package_public.pem";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "qbun: " << problem << "\n";
  std::cerr << kUsage;
  return kExitUsage;
}

int Fail(const std::string& problem) {
  std::cerr << "qbun: " << problem << "\n";
  return kExitFailed;
}

// Positional arguments and "--name value" options of one command.
struct Parsed {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  std::string problem;

  std::optional<std::string> Option(const std::string& name) const {
    for (const auto& [key, value] : options)
      if (key == name) return value;
    return std::nullopt;
  }
};

// Every value of an option that may repeat.
std::vector<std::string> AllValues(const Parsed& parsed, const std::string& name) {
  std::vector<std::string> values;
  for (const auto& [key, value] : parsed.options)
    if (key == name) values.push_back(value);
  return values;
}

Parsed Parse(const std::vector<std::string>& args, const std::vector<std::string>& known_options,
             const std::vector<std::string>& repeatable = {}) {
  Parsed parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 1 && arg[0] == '-') {
      bool known = false;
      for (const std::string& option : known_options) known = known || option == arg;
      if (!known) {
        parsed.problem = "unknown option " + arg;
        return parsed;
      }
      if (i + 1 >= args.size()) {
        parsed.problem = arg + " needs a value";
        return parsed;
      }
      bool may_repeat = false;
      for (const std::string& option : repeatable) may_repeat = may_repeat || option == arg;
      if (!may_repeat && parsed.Option(arg)) {
        parsed.problem = arg + " given twice";
        return parsed;
      }
      parsed.options.emplace_back(arg, args[++i]);
    } else {
      parsed.positional.push_back(arg);
    }
  }
  return parsed;
}

int Keygen(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1) return Usage("keygen needs exactly one DIR");
  const std::string& dir = parsed.positional[0];
  // Private to the user: the directory holds a private key.
  std::error_code ec;
  const bool created = std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) return Fail("cannot create " + dir);
  if (created && ::chmod(dir.c_str(), 0700) != 0) return Fail("cannot make " + dir + " private");
  const std::string private_path = JoinPath(dir, kPrivateKeyFile);
  const std::string public_path = JoinPath(dir, kPublicKeyFile);
  std::string error;
  if (!GenerateKeyPair(private_path, public_path, &error)) return Fail(error);
  const auto key = PackagePublicKey::FromPemFile(public_path);
  std::cout << "Private key: " << private_path << " (mode 0600)\n"
            << "Public key:  " << public_path << "\n"
            << "Fingerprint: " << (key ? KeyFingerprint(*key) : std::string("?")) << "\n"
            << "Back up the private key now, offline and in a second place: every package of your\n"
            << "application must be signed with it, and a lost key means shipping a new program to\n"
            << "every user. Never commit it. Build with -DVESK_PACKAGE_PUBLIC_KEY=" << public_path << "\n"
            << "and -DVESK_PACKAGE_PRIVATE_KEY=" << private_path << ".\n";
  return kExitOk;
}

int Pack(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {"-o", "--key", "--exclude"}, {"--exclude"});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1 || !parsed.Option("-o") || !parsed.Option("--key"))
    return Usage("pack needs DIR, -o FILE and --key PRIVATE.pem");
  const std::string output = *parsed.Option("-o");
  std::string error;
  PrivateKey key = LoadPrivateKey(*parsed.Option("--key"), &error);
  if (!key || !CheckSigningKey(key.get(), &error)) return Fail(error);
  const std::string fingerprint = PublicKeyFingerprint(key.get());
  if (const PackagePublicKey* embedded = PackagePublicKey::Embedded();
      embedded && KeyFingerprint(*embedded) != fingerprint)
    std::cerr << "qbun: note: signing with key " << fingerprint << ", which is not the key built into this\n"
              << "qbun (" << KeyFingerprint(*embedded)
              << "); a program built with that key refuses the package\n";
  CollectOptions options;
  options.excludes = AllValues(parsed, "--exclude");
  // The package being written (and an older copy of it) is never packed into itself.
  options.skip_paths = {output};
  std::vector<ArchiveFile> files;
  std::vector<uint8_t> archive;
  std::vector<uint8_t> signature;
  if (!CollectDirectory(parsed.positional[0], options, &files, &error)) return Fail(error);
  for (const ArchiveFile& file : files)
    for (const std::string& warning : NameWarnings(file.name))
      std::cerr << "qbun: warning: " << warning << "\n";
  if (!BuildArchive(files, &archive, &error) || !SignArchive(key.get(), archive, &signature, &error) ||
      !WriteFileAtomically(output, AssemblePackage(signature, archive, KeyIdBytes(key.get())), &error))
    return Fail(error);
  return kExitOk;
}

int Verify(const std::vector<std::string>& args) {
  // --public-key is the older spelling of --key.
  const Parsed parsed = Parse(args, {"--key", "--public-key"});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1) return Usage("verify needs exactly one FILE");
  const std::string& file = parsed.positional[0];
  const std::optional<std::string> pem =
      parsed.Option("--key") ? parsed.Option("--key") : parsed.Option("--public-key");
  std::unique_ptr<PackagePublicKey> given;
  if (pem) {
    given = PackagePublicKey::FromPemFile(*pem);
    if (!given) return Fail(*pem + " holds no RSA public key");
  }
  const PackagePublicKey* key = given ? given.get() : PackagePublicKey::Embedded();
  if (!key) return Fail("the built-in key cannot be loaded");
  std::cout << "Checking " << file << " against "
            << (pem ? "the key in " + *pem : std::string("the built-in key")) << " " << KeyFingerprint(*key)
            << "\n";
  const bool verified = given ? VerifyPackageWithKey(file, *given) : VerifyPackage(file);
  if (verified) {
    std::cout << "OK: " << file << "\n";
    return kExitOk;
  }
  std::cout << "FAILED: " << file << ": " << DiagnosePackage(file, key).reason << "\n";
  return kExitFailed;
}

// Reads |file| and checks its header; the archive part on success.
bool OpenArchive(const std::string& file, std::vector<uint8_t>* bytes, PackageParts* parts) {
  OpenedFile opened;
  if (!opened.Open(file, kMaxPackageBytes) || !opened.ReadAll(bytes)) {
    std::perror(file.c_str());
    return false;
  }
  return CheckPackageHeader(bytes->data(), bytes->size()) &&
         SplitPackage(bytes->data(), bytes->size(), parts);
}

int List(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1) return Usage("list needs exactly one FILE");
  std::vector<uint8_t> package;
  PackageParts parts;
  if (!OpenArchive(parsed.positional[0], &package, &parts)) return kExitFailed;
  UnzipHelper unzip(parts.archive, parts.archive_length);
  std::vector<UnzipHelper::Entry> entries;
  const bool complete = unzip.ListEntries(&entries);
  for (const auto& entry : entries)
    std::cout << entry.uncompressed_size << "\t" << entry.compressed_size << "\t"
              << (entry.method == 0   ? "stored"
                  : entry.method == 8 ? "deflate"
                                      : "other")
              << "\t" << entry.name << "\n";
  if (!complete) return Fail("the archive's directory is damaged");
  return kExitOk;
}

int Cat(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 2) return Usage("cat needs FILE and ENTRY");
  std::vector<uint8_t> package;
  PackageParts parts;
  if (!OpenArchive(parsed.positional[0], &package, &parts)) return kExitFailed;
  UnzipHelper unzip(parts.archive, parts.archive_length);
  std::vector<uint8_t> bytes;
  if (!unzip.UnzipToMemory(parsed.positional[1], &bytes)) return kExitFailed;
  std::cout.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return std::cout.flush() ? kExitOk : kExitFailed;
}

}  // namespace

int RunQbun(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("");
  const std::string& command = args[0];
  if (command == "--version") {
    std::cout << "qbun " << VESK_PROGRAM_VERSION << "\n";
    return kExitOk;
  }
  if (command == "keygen") return Keygen(args);
  if (command == "pack") return Pack(args);
  if (command == "verify") return Verify(args);
  if (command == "list") return List(args);
  if (command == "cat") return Cat(args);
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  return Usage("unknown command " + command);
}

}  // namespace vesk::qbun
