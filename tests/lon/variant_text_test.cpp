// Multibyte (UTF-8) and wide (UTF-16) text, the form in which values travel as BSTRs.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/text.h"

namespace {

TEST(VariantText, WellFormedTextRoundTrips) {
  const struct {
    std::string multi;
    std::u16string wide;
  } rows[] = {
      {"", u""},
      {"plain", u"plain"},
      {"\xC3\xA9", u"\u00e9"},
      {"\xE2\x82\xAC", u"\u20ac"},
      {"\xEF\xBF\xBF", u"\uffff"},
      {"\xF0\x9D\x84\x9E", u"\U0001D11E"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& row : rows) {
    std::u16string wide = u"poison";
    EXPECT_TRUE(MultiByteToWideChecked(row.multi, &wide)) << row.multi;
    EXPECT_EQ(wide, row.wide);
    EXPECT_EQ(MultiByteToWide(row.multi), row.wide);
    EXPECT_EQ(WideToMultiByte(row.wide), row.multi);
  }
}

TEST(VariantText, MalformedSequencesBecomeReplacementCharacters) {
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
