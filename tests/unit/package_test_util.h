// Helpers for package tests: a log capture, and signed packages made with
// the package tool's writer and this build's development private key.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package_writer.h"
#include "test_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/package_file.h"

namespace vesk::testing {

// The private half of the embedded key; empty when the build was given a
// release public key without its private key.
inline const char* SigningKeyPath() { return VESK_TEST_PACKAGE_PRIVATE_KEY; }

#define VESK_REQUIRE_SIGNING_KEY()                         \
  if (std::strlen(::vesk::testing::SigningKeyPath()) == 0) \
  GTEST_SKIP() << "no private key for the embedded public key in this build"

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> Archive(const std::vector<qbun::ArchiveFile>& files) {
  std::vector<uint8_t> archive;
  std::string error;
  EXPECT_TRUE(qbun::BuildArchive(files, &archive, &error)) << error;
  return archive;
}

// A package of |archive| signed with the development key.
inline std::vector<uint8_t> SignedPackage(const std::vector<uint8_t>& archive) {
  std::string error;
  auto key = qbun::LoadPrivateKey(SigningKeyPath(), &error);
  EXPECT_TRUE(key) << error;
  std::vector<uint8_t> signature;
  EXPECT_TRUE(qbun::SignArchive(key.get(), archive, &signature, &error)) << error;
  return qbun::AssemblePackage(signature, archive);
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(
      WriteStringToFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

}  // namespace vesk::testing
