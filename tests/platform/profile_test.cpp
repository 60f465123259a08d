// Profile reading. The expected answers are those of the original platform's functions for the
// same files and questions, so that option files read here as they read there.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>

#include "tests/support/temp_dir.h"

namespace {

// Writes the values as keys K0, K1, ... of section [Lns].
template <size_t N, typename T>
void WriteValues(const ScopedTempDir& dir, const std::pair<std::string, T> (&cases)[N]) {
  std::string file = "[Lns]\n";
  for (size_t i = 0; i < N; ++i) file += "K" + std::to_string(i) + "=" + cases[i].first + "\n";
  dir.WriteFile("T.int", file);
}

TEST(ProfileTest, IntegerValues) {
  ScopedTempDir dir;
  const std::pair<std::string, int> cases[] = {
      {"7", 7},
      {"  -3  ", -3},
      {"+12", 12},
      {"0x1F", 31},
      {"0X1F", 0},
      {"12abc", 12},
      {"abc", 0},
      {"0b101", 5},
      {"0o17", 15},
      {"017", 17},
      {"-0x10", -16},
      {"\"15\"", 15},
      {"1 2", 1},
      {"--5", 0},
      {"+-5", 0},
      {"- 5", 0},
      {"0x", 0},
      {"0x-5", 0},
      {"-0b11", -3},
      {"0xfg", 15},
      {"0B101", 0},
      {"99999999999", 1215752191},  // wraps at 32 bits
      {"4294967295", -1},
      {"2147483648", INT_MIN},
      {"-2147483649", INT_MAX},
      {std::string(34, '0') + "12", 0},  // only the first 29 characters count
      {std::string(29, '1') + "5", 1729917383},
      {"\"" + std::string(28, '1') + "\"", 1461481927},
      {"", 77},
      {"   ", 77},
  };
  WriteValues(dir, cases);
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string key = "K" + std::to_string(i);
    EXPECT_EQ(ProfileGetInt("Lns", key.c_str(), 77, ProfileLocalPath("T.int").c_str()),
              cases[i].second)
        << cases[i].first;
  }
  EXPECT_EQ(ProfileGetInt("Lns", "Missing", -5, ProfileLocalPath("T.int").c_str()), -5);
  EXPECT_EQ(ProfileGetInt("Lns", "K0", 3, ProfileLocalPath("NoSuch.int").c_str()), 3);
}

TEST(ProfileTest, SectionsAndKeys) {
  ScopedTempDir dir;
  const struct {
    const char* text;
    const char* section;
    const char* key;
    int expected;
  } cases[] = {
      {"[lns]\r\n  remote  =  7  \r\n", "Lns", "REMOTE", 7},
      {"[Lns]\nA=1\n[LNS]\nA=2\nB=3\n", "Lns", "B", 77},  // the first section of a name counts
      {"[Lns]\nA=1\nA=2\n", "Lns", "A", 1},
      {"[Lns]\nA\nA=2\n", "Lns", "A", 77},  // the first A has no value
      {"[Lns]\n;A=1\n  ; A=2\n", "Lns", "A", 77},
      {"[Lns]\nK Spaced = 4\nT\t=\t5\t\n", "Lns", "k spaced", 4},
      {"[Lns]\nK Spaced = 4\nT\t=\t5\t\n", "Lns", "T", 5},
      {"[Other]\nA=1\n", "Lns", "A", 77},
      {"[ Lns ]\nA=1\n", "Lns", "A", 1},
      {"[Lns] trailing text\nA=1\n", "Lns", "A", 1},
      {"[Lns];comment\nA=1\n", "Lns", "A", 1},
      {"[Lns]x]\nA=1\n", "Lns", "A", 77},
      {"[Lns]x]\nA=1\n", "Lns]x", "A", 1},
      {"[Lns]\n[Other\nA=5\n", "Lns", "A", 5},  // no ']': an ordinary line
      {"A=1\n[Lns]\rB=2\rA=3\n", "Lns", "A", 3},
      {"A=1\n[Lns]\rB=2\rA=3\n", "Lns", "B", 2},
      {"A=1\n[Lns]\rB=2\rA=3\n", "", "A", 1},
      {"[]\nA=1\n", "", "A", 77},
      {"\xef\xbb\xbf[Lns]\nA=8\n", "Lns", "A", 8},  // a UTF-8 byte-order mark is skipped
  };
  for (const auto& c : cases) {
    dir.WriteFile("T.int", c.text);
    EXPECT_EQ(ProfileGetInt(c.section, c.key, 77, ProfileLocalPath("T.int").c_str()), c.expected)
        << c.text << " [" << c.section << "] " << c.key;
  }
}

TEST(ProfileTest, TextValuesAndBufferSizes) {
  ScopedTempDir dir;
  const std::pair<std::string, std::pair<size_t, std::string>> cases[] = {
      {"\"quoted\"", {255, "quoted"}},
      {"'single'", {255, "single"}},
      {"\"mixed'", {255, "\"mixed'"}},
      {"\"", {255, "\""}},
      {"''", {255, ""}},
      {"\" spaced \"", {255, " spaced "}},
      {" \"a\" ", {255, "a"}},
      {"\"a\"b\"", {255, "a\"b"}},
      {"\"\"\"", {255, "\""}},
      {"a b  \t", {255, "a b"}},
      {"x;y", {255, "x;y"}},
      {"", {255, ""}},
      {"\"quoted\"", {4, "quo"}},
      {"\"quoted\"", {7, "quote"}},  // the closing quote is dropped with the last character
      {"\"quoted\"", {8, "quoted"}},
      {"7", {1, ""}},
      {std::string(300, 'x'), {255, std::string(254, 'x')}},
      {"\"" + std::string(253, 'y') + "\"", {255, std::string(253, 'y')}},
      {"\"" + std::string(254, 'z') + "\"", {255, std::string(253, 'z')}},
      {"\"" + std::string(255, 'w') + "\"", {255, std::string(254, 'w')}},
  };
  WriteValues(dir, cases);
  char buffer[300];
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [size, expected] = cases[i].second;
    std::string key = "K" + std::to_string(i);
    std::memset(buffer, '?', sizeof buffer);
    EXPECT_EQ(
        ProfileGetString("Lns", key.c_str(), "d", buffer, size, ProfileLocalPath("T.int").c_str()),
        expected.size());
    EXPECT_EQ(std::string(buffer), expected) << cases[i].first << " size " << size;
    EXPECT_EQ(buffer[size], '?') << "wrote past the buffer: " << cases[i].first;
  }

  // Defaults lose trailing blanks and quotes, and are cut like values.
  const std::pair<const char*, std::string> defaults[] = {
      {"dfl  ", "dfl"}, {"  x  ", "  x"}, {"\"x\"", "x"}, {"abcdef", "abc"}, {nullptr, ""}};
  for (const auto& [fallback, expected] : defaults) {
    for (const std::string& path : {ProfileLocalPath("T.int"), ProfileLocalPath("NoSuch.int")}) {
      std::memset(buffer, '?', sizeof buffer);
      ProfileGetString("Lns", "Missing", fallback, buffer, 4, path.c_str());
      EXPECT_EQ(std::string(buffer), expected) << path << " " << (fallback ? fallback : "null");
    }
  }
  buffer[0] = '?';
  EXPECT_EQ(ProfileGetString("Lns", "K0", "d", buffer, 0, ProfileLocalPath("T.int").c_str()), 0u);
  EXPECT_EQ(buffer[0], '?');
}

// Files saved as "Unicode" (UTF-16 with its byte-order mark, either byte order) read like the
// same file in the local code page.
TEST(ProfileTest, Utf16FilesWithTheirMarkAreRead) {
  ScopedTempDir dir;
  const std::u16string text = u"[Lns]\r\nNetwork=R\u00e4um\u20ac \U0001F600\r\nDebugLevel=5\r\n";
  for (bool little : {true, false}) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
      char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
      bytes += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    dir.WriteFile("U.int", bytes);
    char buffer[64];
    EXPECT_EQ(ProfileGetInt("Lns", "DebugLevel", 3, ProfileLocalPath("U.int").c_str()), 5)
        << little;
    ProfileGetString("Lns", "Network", "", buffer, sizeof buffer,
                     ProfileLocalPath("U.int").c_str());
    EXPECT_EQ(std::string(buffer), "R\xC3\xA4um\xE2\x82\xAC \xF0\x9F\x98\x80") << little;
  }
}

}  // namespace
