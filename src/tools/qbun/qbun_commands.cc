#include "qbun_commands.h"

#include <cstdio>
#include <iostream>
#include <optional>

#include "package_writer.h"
#include "vesk/core/package/mapped_file.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/package/package_public_key.h"
#include "vesk/core/package/unzip_helper.h"

namespace vesk::qbun {
namespace {

constexpr char kUsage[] =
    "usage: qbun pack DIR -o FILE --key PRIVATE.pem   pack and sign a directory\n"
    "       qbun verify FILE [--public-key PUBLIC.pem] check header and signature\n"
    "                                                 (default: the built-in key)\n"
    "       qbun list FILE                            list the entries\n"
    "       qbun cat FILE ENTRY                       write one entry to stdout\n"
    "list and cat check the header only, not the signature.\n";

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

Parsed Parse(const std::vector<std::string>& args, const std::vector<std::string>& known_options) {
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
      if (parsed.Option(arg)) {
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

int Pack(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {"-o", "--key"});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1 || !parsed.Option("-o") || !parsed.Option("--key"))
    return Usage("pack needs DIR, -o FILE and --key PRIVATE.pem");
  std::string error;
  PrivateKey key = LoadPrivateKey(*parsed.Option("--key"), &error);
  if (!key) return Fail(error);
  std::vector<ArchiveFile> files;
  std::vector<uint8_t> archive;
  std::vector<uint8_t> signature;
  if (!CollectDirectory(parsed.positional[0], &files, &error) || !BuildArchive(files, &archive, &error) ||
      !SignArchive(key.get(), archive, &signature, &error) ||
      !WriteFileAtomically(*parsed.Option("-o"), AssemblePackage(signature, archive), &error))
    return Fail(error);
  return kExitOk;
}

int Verify(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {"--public-key"});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1) return Usage("verify needs exactly one FILE");
  const std::string& file = parsed.positional[0];
  bool verified;
  if (const auto pem = parsed.Option("--public-key")) {
    const auto key = PackagePublicKey::FromPemFile(*pem);
    if (!key) return Fail(*pem + " holds no RSA public key");
    verified = VerifyPackageWithKey(file, *key);
  } else {
    verified = VerifyPackage(file);
  }
  std::cout << (verified ? "OK: " : "FAILED: ") << file << "\n";
  return verified ? kExitOk : kExitFailed;
}

// Maps |file| and checks its header; the archive part on success.
bool OpenArchive(const std::string& file, MappedFile* mapping, PackageParts* parts) {
  if (!mapping->Open(file, kMaxPackageBytes)) {
    std::perror(file.c_str());
    return false;
  }
  return CheckPackageHeader(mapping->data(), mapping->size()) &&
         SplitPackage(mapping->data(), mapping->size(), parts);
}

int List(const std::vector<std::string>& args) {
  const Parsed parsed = Parse(args, {});
  if (!parsed.problem.empty()) return Usage(parsed.problem);
  if (parsed.positional.size() != 1) return Usage("list needs exactly one FILE");
  MappedFile mapping;
  PackageParts parts;
  if (!OpenArchive(parsed.positional[0], &mapping, &parts)) return kExitFailed;
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
  MappedFile mapping;
  PackageParts parts;
  if (!OpenArchive(parsed.positional[0], &mapping, &parts)) return kExitFailed;
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
