// The package checksum: CNG hashing against published SHA-256 vectors, the Sha256 text rules,
// and the Installer thread with a Sha256 in the Info file: a match runs the package while it is
// held against writes, a mismatch or a malformed value deletes it and fails, none changes nothing.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include <gtest/gtest.h>

#include "app/workflow.h"
#include "download/download_jobs.h"
#include "installer_harness.h"
#include "support/test_support.h"
#include "update/installer.h"
#include "info/package_check.h"

namespace {

using installer_harness::ElevationRequired;
using installer_harness::g_heldAtStart;
using installer_harness::HeldAtStart;
using installer_harness::InstallerRun;
using installer_harness::ProbingCreateProcess;
using installer_harness::ProbingShellExecute;
using testing_support::FileExists;
using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::Widen;
using testing_support::WriteBytes;

std::string Hex(const BYTE* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// The same digest through the older CryptoAPI, a second implementation to compare with.
std::string CryptoApiSha256(const std::wstring& path) {
  std::string bytes = testing_support::ReadBytes(path);
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[32] = {};
  DWORD length = sizeof digest;
  bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
            CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
            CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return ok ? Hex(digest, sizeof digest) : std::string();
}

std::string HashOf(const std::wstring& path, bool* ok) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  BYTE digest[kSha256Bytes] = {};
  *ok = file != INVALID_HANDLE_VALUE && HashFileSha256(file, digest);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return Hex(digest, sizeof digest);
}

TEST(PackageCheck, HashesThePublishedVectors) {
  TempDir dir;
  const struct {
    const char* name;
    std::string content;
    const char* sha256;
  } rows[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // Larger than one read: the chunks must join up.
      {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring path = dir.file(L"vector.bin");
    ASSERT_TRUE(WriteBytes(path, row.content));
    bool ok = false;
    EXPECT_EQ(row.sha256, HashOf(path, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(row.sha256, CryptoApiSha256(path)) << "the second implementation disagrees";
  }
}

TEST(PackageCheck, HashesFromTheStartWhereverTheHandleStands) {
  TempDir dir;
  std::wstring path = dir.file(L"abc.bin");
  ASSERT_TRUE(WriteBytes(path, "abc"));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  char skip[2];
  DWORD got = 0;
  ReadFile(file, skip, 2, &got, nullptr);
  BYTE digest[kSha256Bytes] = {};
  EXPECT_TRUE(HashFileSha256(file, digest));
  CloseHandle(file);
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(digest, sizeof digest));
}

TEST(PackageCheck, Sha256TextIsExactly64HexDigits) {
  const std::wstring good = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::wstring upper = good;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  const struct {
    const char* name;
    std::wstring text;
    bool valid;
  } rows[] = {
      {"lower case", good, true},
      {"upper case", upper, true},
      {"63 digits", good.substr(0, 63), false},
      {"65 digits", good + L"0", false},
      {"empty", L"", false},
      {"a g", good.substr(0, 63) + L"g", false},
      {"blank inside", good.substr(0, 31) + L" " + good.substr(32), false},
      {"0x prefix", L"0x" + good.substr(2), false},
      {"non-ASCII digit", good.substr(0, 63) + L"\x0663", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.valid, IsSha256Text(row.text.c_str())) << row.name;
  }
  EXPECT_FALSE(IsSha256Text(nullptr));

  BYTE digest[kSha256Bytes] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                               0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                               0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  EXPECT_TRUE(Sha256TextMatches(good.c_str(), digest));
  EXPECT_TRUE(Sha256TextMatches(upper.c_str(), digest));
  for (int i = 0; i < kSha256Bytes; ++i) {
    digest[i] ^= 1;
    EXPECT_FALSE(Sha256TextMatches(good.c_str(), digest)) << "byte " << i << " changed";
    digest[i] ^= 1;
  }
}

// --- The Installer thread.

std::string Info(const std::string& sha256Line) {
  return "[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/vrel_setup.exe\r\n"
         "InstConfig=vrel_setup.exe /S\r\n" +
         sha256Line + "\r\n";
}

class PackageChecksum : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installer_harness::CreateWindows()); }
  void SetUp() override {
    g_heldAtStart = HeldAtStart();
    g_createProcess = ProbingCreateProcess;
    g_shellExecuteEx = ProbingShellExecute;
    packageSha256_ = CryptoApiSha256(testing_support::ProgramFolder() + L"\\test_package.exe");
    ASSERT_EQ(64u, packageSha256_.size());
  }
  void TearDown() override {
    g_createProcess = CreateProcessW;
    g_shellExecuteEx = ShellExecuteExW;
  }
  std::string packageSha256_;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(PackageChecksum, MatchingPackageRunsHeldAgainstWritesAndDeletion) {
  for (bool elevated : {false, true}) {
    for (const std::string& sha256 : {packageSha256_, Upper(packageSha256_)}) {
      SCOPED_TRACE(std::string(elevated ? "elevated " : "direct ") + sha256);
      g_heldAtStart = HeldAtStart();
      if (elevated) g_createProcess = ElevationRequired;
      InstallerRun run(Info("Sha256=" + sha256));
      ASSERT_TRUE(run.Complete());
      EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
      EXPECT_TRUE(run.PackageRan());
      EXPECT_EQ(1, g_heldAtStart.starts);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_heldAtStart.writeError)
          << "the package could be opened for writing between the check and the start";
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_heldAtStart.deleteError)
          << "the package could be opened for deletion between the check and the start";
      EXPECT_TRUE(FileExists(run.package()));
    }
  }
}

TEST_F(PackageChecksum, MismatchOrMalformedDeletesThePackageUnrun) {
  std::string flipped = packageSha256_;
  flipped[10] = flipped[10] == '0' ? '1' : '0';
  const struct {
    const char* name;
    std::string line;
    const char* output;
  } rows[] = {
      {"one digit off", "Sha256=" + flipped, "package refused: Sha256 does not match\n"},
      {"of another file", "Sha256=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "package refused: Sha256 does not match\n"},
      {"63 digits", "Sha256=" + packageSha256_.substr(0, 63), "package refused: Sha256 is not 64 hexadecimal digits\n"},
      {"65 digits", "Sha256=" + packageSha256_ + "0", "package refused: Sha256 is not 64 hexadecimal digits\n"},
      {"5000 digits", "Sha256=" + std::string(5000, 'a'), "package refused: Sha256 is not 64 hexadecimal digits\n"},
      {"not hex", "Sha256=" + packageSha256_.substr(0, 63) + "z",
       "package refused: Sha256 is not 64 hexadecimal digits\n"},
      {"empty", "Sha256=", "package refused: Sha256 is not 64 hexadecimal digits\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testing_support::DebugOutputCapture capture;
    InstallerRun run(Info(row.line));
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerFailed, run.report().outcome);
    EXPECT_EQ(1, run.report().count);
    EXPECT_FALSE(run.PackageRan());
    EXPECT_EQ(0, g_heldAtStart.starts) << "a refused package was started";
    EXPECT_FALSE(FileExists(run.package())) << "a refused package was kept";
    EXPECT_TRUE(capture.WaitFor(row.output, 5000)) << capture.joined();
  }
}

// A package another program holds cannot be hashed: refused as such, never as a mismatch.
TEST_F(PackageChecksum, APackageThatCannotBeOpenedIsRefusedAsSuch) {
  testing_support::DebugOutputCapture capture;
  InstallerRun run(Info("Sha256=" + packageSha256_));
  HANDLE held = CreateFileW(run.package().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  ASSERT_TRUE(run.Complete());
  CloseHandle(held);
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_FALSE(run.PackageRan());
  EXPECT_TRUE(capture.WaitFor("package refused: cannot be opened (error 32)\n", 5000)) << capture.joined();
}

TEST_F(PackageChecksum, WithoutSha256NothingChanges) {
  InstallerRun run(Info("; no checksum"));
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
  EXPECT_TRUE(run.PackageRan());
  EXPECT_EQ(1, g_heldAtStart.starts);
  EXPECT_EQ(0u, g_heldAtStart.writeError) << "without Sha256 the package is not held";
}

} // namespace
