// Profile reading. The expected answers are those of the original platform's functions for the
// same files and questions, so that option files read here as they read there.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

const std::string kLong300(300, 'x');

// Each file exercises one group of rules; the tables below ask questions of them.
void WriteFiles(const ScopedTempDir& dir) {
  dir.WriteFile("A.int",
                "[Lns]\r\n  Remote  =  7  \r\nsingle=-3\r\nPinEvent=+12\r\nDelimiter=\r\n"
                "Q1=\"quoted\"\r\nQ2='single'\r\nQ3=\"mixed'\r\nQ4=\"\r\nQ5=''\r\n"
                "Q6=\" spaced \"\r\nQ7= \"a\" \r\nQ8=\"a\"b\"\r\nQ9=\"\"\"\r\n"
                "Dup=first\r\nDup=second\r\nNoEq\r\nNoEq=5\r\n;Cmt=1\r\n  ; Cmt2=1\r\n"
                "K Spaced = v\r\nTab\t=\tt\t\r\nV1=a b  \t\r\nV2=x;y\r\n"
                "[lns]\r\nLater=1\r\nRemote=99\r\n");
  dir.WriteFile("Int.int",
                "[Lns]\nI1=0x1F\nI2=0X1F\nI3=12abc\nI4=abc\nI5=0b101\nI6=0o17\n"
                "I7=99999999999\nI8=-0x10\nI9= 42\nI10=\"15\"\nI11=4294967295\n"
                "I12=2147483648\nI13=1 2\nI14=--5\nI15=0x\nI16=017\nI17=- 5\nI18=+-5\n"
                "I19=0x-5\nI20=-0b11\nI21=0xfg\nI22=0B101\nI23=+0x10\nI24=0x7fffffff\n"
                "I25=0xffffffff\nI26=-2147483649\nI27=" +
                    std::string(34, '0') + "12\nI28=" + std::string(29, '1') + "5\nI29=\"" +
                    std::string(28, '1') + "\"\nE1=\nE2=   \n");
  // Header variants: blanks inside the brackets, trailing text, a name running to the last ']'.
  dir.WriteFile("B.int", "[ Lns ]\nRemote=1\n[Lns] trailing\nSingle=2\n  [Lns]  \nPinEvent=3\n");
  dir.WriteFile("H.int", "[Lns] trailing text\nRemote=1\n");
  dir.WriteFile("I.int", "[Lns]x]\nRemote=1\n");
  dir.WriteFile("K.int", "[Lns];comment\nRemote=1\n[Other]\n[]\nRemote=3\n");
  // Case of the section, a header without ']' staying in the section, a later section.
  dir.WriteFile("C.int",
                "[Other]\nRemote=1\n[LNS]\nRemote=4\n[Lns\nSingle=5\n[Other2]\nDebugLevel=6\n");
  // Lone CR ends a line too; keys above the first header belong to the nameless section.
  dir.WriteFile("D.int", "Remote=1\n[Lns]\rSingle=2\rRemote=3\n");
  // A byte-order mark is not recognised: the first line is no header.
  dir.WriteFile("E.int", "\xef\xbb\xbf[Lns]\nRemote=8\n");
  dir.WriteFile("F.int", "[Lns]\nLong=" + kLong300 + "\nQL=\"" + std::string(253, 'y') +
                             "\"\nQL2=\"" + std::string(254, 'z') + "\"\nQL3=\"" +
                             std::string(255, 'w') + "\"\n");
  dir.WriteFile("G.int", "[Lns]\nDelimiter=/\nD2=abc\nE1=\nE2=   \n");
}

struct IntCase {
  const char* file;
  const char* section;
  const char* key;
  int fallback;
  int expected;
};

TEST(ProfileTest, IntegersReadAsThePlatformReadsThem) {
  ScopedTempDir dir;
  WriteFiles(dir);
  const IntCase cases[] = {
      {"A.int", "Lns", "Remote", 77, 7},
      {"A.int", "lNs", "Remote", 77, 7},
      {"A.int", "Lns", "single", 77, -3},
      {"A.int", "Lns", "SINGLE", 77, -3},
      {"A.int", "Lns", "PinEvent", 77, 12},
      {"A.int", "Lns", "Missing", 77, 77},
      {"A.int", "Lns", "Delimiter", 77, 77},  // empty value
      {"A.int", "Lns", "Q1", 77, 0},          // no digits
      {"A.int", "Lns", "NoEq", 77, 77},       // first occurrence has no '=': missing
      {"A.int", "Lns", "Later", 77, 77},      // only in a second [lns]
      {"Int.int", "Lns", "I1", 77, 31},
      {"Int.int", "Lns", "I2", 77, 0},
      {"Int.int", "Lns", "I3", 77, 12},
      {"Int.int", "Lns", "I4", 77, 0},
      {"Int.int", "Lns", "I5", 77, 5},
      {"Int.int", "Lns", "I6", 77, 15},
      {"Int.int", "Lns", "I7", 77, 1215752191},
      {"Int.int", "Lns", "I8", 77, -16},
      {"Int.int", "Lns", "I9", 77, 42},
      {"Int.int", "Lns", "I10", 77, 15},
      {"Int.int", "Lns", "I11", 77, -1},
      {"Int.int", "Lns", "I12", 77, -2147483647 - 1},
      {"Int.int", "Lns", "I13", 77, 1},
      {"Int.int", "Lns", "I14", 77, 0},
      {"Int.int", "Lns", "I15", 77, 0},
      {"Int.int", "Lns", "I16", 77, 17},
      {"Int.int", "Lns", "I17", 77, 0},
      {"Int.int", "Lns", "I18", 77, 0},
      {"Int.int", "Lns", "I19", 77, 0},
      {"Int.int", "Lns", "I20", 77, -3},
      {"Int.int", "Lns", "I21", 77, 15},
      {"Int.int", "Lns", "I22", 77, 0},
      {"Int.int", "Lns", "I23", 77, 16},
      {"Int.int", "Lns", "I24", 77, 2147483647},
      {"Int.int", "Lns", "I25", 77, -1},
      {"Int.int", "Lns", "I26", 77, 2147483647},
      {"Int.int", "Lns", "I27", 77, 0},           // only 29 characters are looked at
      {"Int.int", "Lns", "I28", 77, 1729917383},  // 29 ones, wrapped
      {"Int.int", "Lns", "I29", 77, 1461481927},  // 28 ones, wrapped
      {"Int.int", "Lns", "E1", 9, 9},
      {"Int.int", "Lns", "E2", 9, 9},
      {"Int.int", "Lns", "Missing", -5, -5},
      {"B.int", "Lns", "Remote", 77, 1},
      {"B.int", " Lns ", "Remote", 77, 1},
      {"B.int", "Lns", "Single", 77, 77},
      {"B.int", "Lns", "PinEvent", 77, 77},
      {"H.int", "Lns", "Remote", 77, 1},
      {"I.int", "Lns", "Remote", 77, 77},
      {"I.int", "Lns]x", "Remote", 77, 1},
      {"K.int", "Lns", "Remote", 77, 1},
      {"K.int", "", "Remote", 77, 77},
      {"C.int", "Lns", "Remote", 77, 4},
      {"C.int", "Lns", "Single", 77, 5},
      {"C.int", "Lns", "DebugLevel", 77, 77},
      {"D.int", "Lns", "Remote", 77, 3},
      {"D.int", "Lns", "Single", 77, 2},
      {"D.int", "", "Remote", 77, 1},
      {"D.int", "", "Single", 77, 77},
      {"E.int", "Lns", "Remote", 77, 77},
      {"NoSuch.int", "Lns", "Remote", 3, 3},
  };
  for (const IntCase& c : cases) {
    std::string path = std::string("./") + c.file;
    EXPECT_EQ(ProfileGetInt(c.section, c.key, c.fallback, path.c_str()), c.expected)
        << c.file << " [" << c.section << "] " << c.key;
  }
}

struct StringCase {
  const char* file;
  const char* key;
  const char* fallback;
  size_t size;
  std::string expected;
};

TEST(ProfileTest, TextsReadAsThePlatformReadsThem) {
  ScopedTempDir dir;
  WriteFiles(dir);
  const StringCase cases[] = {
      {"A.int", "Remote", "dflt", 255, "7"},
      {"A.int", "Delimiter", "dflt", 255, ""},  // present and empty: not the default
      {"A.int", "Q1", "dflt", 255, "quoted"},
      {"A.int", "Q2", "dflt", 255, "single"},
      {"A.int", "Q3", "dflt", 255, "\"mixed'"},
      {"A.int", "Q4", "dflt", 255, "\""},
      {"A.int", "Q5", "dflt", 255, ""},
      {"A.int", "Q6", "dflt", 255, " spaced "},
      {"A.int", "Q7", "dflt", 255, "a"},
      {"A.int", "Q8", "dflt", 255, "a\"b"},
      {"A.int", "Q9", "dflt", 255, "\""},
      {"A.int", "Dup", "dflt", 255, "first"},
      {"A.int", "NoEq", "dflt", 255, "dflt"},
      {"A.int", "Cmt", "dflt", 255, "dflt"},
      {"A.int", "Cmt2", "dflt", 255, "dflt"},
      {"A.int", "K Spaced", "dflt", 255, "v"},
      {"A.int", "Tab", "dflt", 255, "t"},
      {"A.int", "V1", "dflt", 255, "a b"},
      {"A.int", "V2", "dflt", 255, "x;y"},
      {"A.int", "Later", "dflt", 255, "dflt"},
      {"A.int", "Missing", "dflt  ", 255, "dflt"},
      {"A.int", "Missing", "  x  ", 255, "  x"},
      {"A.int", "Missing", "\"x\"", 255, "x"},
      {"A.int", "Missing", "abcdef", 4, "abc"},
      {"A.int", "Missing", nullptr, 255, ""},
      // The buffer cut, with and without quotes.
      {"A.int", "Q1", "d", 4, "quo"},
      {"A.int", "Q1", "d", 7, "quote"},
      {"A.int", "Q1", "d", 8, "quoted"},
      {"A.int", "Q1", "d", 9, "quoted"},
      {"A.int", "Remote", "d", 1, ""},
      {"F.int", "Long", "d", 255, std::string(254, 'x')},
      {"F.int", "QL", "d", 255, std::string(253, 'y')},
      {"F.int", "QL2", "d", 255, std::string(253, 'z')},
      {"F.int", "QL3", "d", 255, std::string(254, 'w')},
      {"G.int", "Delimiter", ".", 255, "/"},
      {"G.int", "D2", ".", 255, "abc"},
      {"G.int", "E1", ".", 255, ""},
      {"G.int", "E2", ".", 255, ""},
      {"G.int", "Missing", ".", 255, "."},
      {"NoSuch.int", "Remote", ".", 255, "."},
  };
  for (const StringCase& c : cases) {
    std::string path = std::string("./") + c.file;
    char buffer[300];
    std::memset(buffer, '?', sizeof buffer);
    size_t n = ProfileGetString("Lns", c.key, c.fallback, buffer, c.size, path.c_str());
    EXPECT_EQ(n, c.expected.size()) << c.file << " " << c.key << " size " << c.size;
    EXPECT_EQ(std::string(buffer), c.expected) << c.file << " " << c.key << " size " << c.size;
    EXPECT_EQ(buffer[c.size], '?') << "wrote past the buffer: " << c.key;
  }
}

TEST(ProfileTest, ZeroSizedBufferIsNotWritten) {
  ScopedTempDir dir;
  WriteFiles(dir);
  char buffer[4] = {'?', '?', '?', '?'};
  EXPECT_EQ(ProfileGetString("Lns", "Remote", "d", buffer, 0, "./A.int"), 0u);
  EXPECT_EQ(buffer[0], '?');
}

}  // namespace
