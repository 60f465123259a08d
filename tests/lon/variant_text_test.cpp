// Multibyte and wide (UTF-16) text, the form in which values travel as BSTRs. Multibyte text is
// UTF-8 on POSIX and in our Windows programs; Windows programs without our manifest (as a host's)
// have the system's ANSI code page, in which the program runs again (1252, and 932 for a
// double-byte one): each table holds the rows of the code pages it knows.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace {

struct TextRow {
  unsigned codePage;
  std::string multi;
  std::u16string wide;
};

TEST(VariantText, WellFormedTextRoundTrips) {
  const unsigned utf8 = 65001;
  const TextRow table[] = {
      {1252, "\xE9", u"\u00e9"},
      {1252, "\x80", u"\u20ac"},
      {1252,
       "21\xB0"
       "C \xB5\xB2",
       u"21\u00b0C \u00b5\u00b2"},
      {932, "\x82\xA0\x82\xA2", u"\u3042\u3044"},
      {932, "\xB1", u"\uff71"},  // a half-width katakana: one byte
  };
  std::vector<TextRow> rows;
  for (const TextRow& row : table) {
    if (row.codePage == MultiByteCodePage()) rows.push_back(row);
  }
  for (const auto& [multi, wide] : std::vector<std::pair<std::string, std::u16string>>{
           {"", u""}, {"plain", u"plain"}, {std::string("a\0b", 3), std::u16string(u"a\0b", 3)}}) {
    rows.push_back({0, multi, wide});
  }
  if (MultiByteCodePage() != utf8) {
    for (const TextRow& row : rows) {
      std::u16string wide = u"poison";
      EXPECT_TRUE(MultiByteToWideChecked(row.multi, &wide)) << row.multi;
      EXPECT_EQ(wide, row.wide);
      EXPECT_EQ(WideToMultiByte(row.wide), row.multi);
    }
    return;
  }
  const struct {
    std::string multi;
    std::u16string wide;
  } utf8Rows[] = {
      {"", u""},
      {"plain", u"plain"},
      {"\xC3\xA9", u"\u00e9"},
      {"\xE2\x82\xAC", u"\u20ac"},
      {"\xEF\xBF\xBF", u"\uffff"},
      {"\xF0\x9D\x84\x9E", u"\U0001D11E"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& row : utf8Rows) {
    std::u16string wide = u"poison";
    EXPECT_TRUE(MultiByteToWideChecked(row.multi, &wide)) << row.multi;
    EXPECT_EQ(wide, row.wide);
    EXPECT_EQ(MultiByteToWide(row.multi), row.wide);
    EXPECT_EQ(WideToMultiByte(row.wide), row.multi);
  }
}

// Cuts fall between characters of the code page: in UTF-8 never inside a sequence, in 1252
// after any byte (the symbols above 0x7F are whole characters, though they look like UTF-8
// continuation bytes), in a double-byte code page never after a lead byte, which only a walk
// from the start tells from a trail byte of the same value.
TEST(VariantText, PrefixEndsOnAWholeCharacter) {
  const struct {
    unsigned codePage;
    std::string text;
    size_t max;
    size_t prefix;
  } rows[] = {
      {65001, "a\xC3\xA9", 2, 1},
      {65001, "a\xC3\xA9", 3, 3},
      {65001,
       "\xE2\x82\xAC"
       "b",
       3, 3},
      {65001, "\xE2\x82\xAC", 2, 0},
      {65001, "\xF0\x9D\x84\x9E", 3, 0},
      {1252, "21\xB0\xB5\xB2", 4, 4},
      {1252, "\x80\x80\x80", 2, 2},
      {1252, "\xE9\xE9", 1, 1},
      {932, "a\x82\xA0", 2, 1},
      {932, "\x82\xA0\x82\xA0", 3, 2},
      {932, "\x82\x82\x82\xA0", 3, 2},  // 0x82 0x82 is one character, 0x82 0xA0 the next
      {932,
       "\x82\xA0"
       "a",
       2, 2},
      {932, "\xB1\xB1\xB1", 2, 2},
  };
  size_t checked = 0;
  for (const auto& row : rows) {
    if (row.codePage != MultiByteCodePage()) continue;
    ++checked;
    EXPECT_EQ(MultiBytePrefix(row.text.data(), row.text.size(), row.max), row.prefix)
        << row.codePage << " " << row.text << " at most " << row.max;
  }
  for (size_t max : {0, 5, 9}) {
    EXPECT_EQ(MultiBytePrefix("plain", 5, max), max < 5 ? max : 5u);
  }
  if (checked == 0) GTEST_SKIP() << "no rows for code page " << MultiByteCodePage();
}

TEST(VariantText, MalformedSequencesBecomeReplacementCharacters) {
  if (MultiByteCodePage() != 65001) GTEST_SKIP() << "UTF-8 sequences only";
  const struct {
    std::string multi;
    std::u16string wide;
  } rows[] = {
      {"\xC3", u"\ufffd"},                                // truncated
      {"a\xC3z", u"a\ufffdz"},                            // continuation missing
      {"\x80", u"\ufffd"},                                // stray continuation
      {"\xC0\xAF", u"\ufffd\ufffd"},                      // overlong
      {"\xE0\x80\xAF", u"\ufffd\ufffd\ufffd"},            // overlong, three bytes
      {"\xED\xA0\x80", u"\ufffd\ufffd\ufffd"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // above U+10FFFF
      {"\xFF", u"\ufffd"},
  };
  // How many replacement characters one malformed sequence gives is the system's choice: a run
  // of them counts as one here.
  auto runs = [](std::u16string s) {
    for (size_t i = 1; i < s.size();) {
      if (s[i] == u'\ufffd' && s[i - 1] == u'\ufffd') {
        s.erase(i, 1);
      } else {
        ++i;
      }
    }
    return s;
  };
  for (const auto& row : rows) {
    std::u16string wide;
    EXPECT_FALSE(MultiByteToWideChecked(row.multi, &wide));
    EXPECT_EQ(runs(wide), runs(row.wide));
    EXPECT_EQ(runs(MultiByteToWide(row.multi)), runs(row.wide));
  }
  // Unpaired surrogates in wide text.
  EXPECT_EQ(WideToMultiByte(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToMultiByte(std::u16string{char16_t(0xDC00), u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToMultiByte(std::u16string{char16_t(0xD83D), u'x'}), "\xEF\xBF\xBDx");
}

TEST(VariantText, LocalTimeIsTheCurrentTime) {
  std::time_t before = std::time(nullptr);
  std::tm now = LocalTimeNow();
  std::time_t after = std::time(nullptr);
  std::time_t back = std::mktime(&now);
  EXPECT_GE(back, before);
  EXPECT_LE(back, after);
}

}  // namespace
