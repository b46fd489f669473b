// tests/xml/parser_scan_test.cc: runs of text and attribute values are
// skipped in blocks of sixteen bytes; whatever ends a run must be found
// wherever it falls: first, last, either side of a block's edge, at the end
// of input, and next to bytes of 0x80 and above.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/xml_parse_helpers.h"
#include "xml/document.h"
#include "xml/exception.h"

namespace {

using brevick::testing::DescribeTree;
using brevick::testing::ExpectParseFault;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;

// Where the byte that ends a run is put: the run's first byte, around the
// first and second block edges, and far in.
constexpr int kOffsets[] = {0, 1, 14, 15, 16, 17, 31, 32, 33, 47, 64};

std::string Filler(int count) { return std::string(static_cast<std::size_t>(count), 'x'); }

// '@' in `layout` stands for the filler, '#' for what is put between.
std::string Fill(std::string_view layout, int before, std::string_view between) {
  std::string text(layout);
  text.replace(text.find('#'), 1, between);
  return text.replace(text.find('@'), 1, Filler(before));
}

TEST(ParserScanTest, FindsWhatEndsARunAtEveryOffset) {
  const struct {
    std::string_view between, described;
    bool inAttribute;
  } cases[] = {
      // clang-format off
      {"&amp;", "\" &amp; \"", false},
      {"<b/>", "\" b \"", false},
      {"<!--c-->", "\" #\"c\" \"", false},
      {"]", "]", false},  // a lone "]" stays in the text
      {"]]", "]]", false},
      {"\t", "\t", false},
      {"\x7F", "\x7F", false},  // DEL is text
      {"\r\n", "\r\n", false},
      {"\xC3\xA9", "\xC3\xA9", false},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false},
      {"&amp;", "\"&amp;\"", true},
      {"'", "'", true},  // the other quote is part of the value
      {"]]>", "]]>", true},
      {"\n", "\n", true},
      {"\xC3\xA9", "\xC3\xA9", true},
      {"", "", true},  // the closing quote itself
      // clang-format on
  };
  for (const auto& c : cases) {
    for (const int before : kOffsets) {
      const std::string xml =
          Fill(c.inAttribute ? "<a v=\"@#xxx\"/>" : "<a>@#xxxxx</a>", before, c.between);
      const auto document = ParseOrFail(xml);
      ASSERT_TRUE(document) << xml;
      EXPECT_EQ(Fill(c.inAttribute ? "a(v=\"@#xxx\")" : "a[\"@#xxxxx\"]", before, c.described),
                DescribeTree(*document));
    }
  }
  // In ISO-8859-1 bytes of 0x80 and above are plain text; a run full of them
  // must still stop at the reference and the tag behind them.
  for (const int before : kOffsets) {
    const std::string text =
        Filler(before) + "\xE9\xFF\x80\xA0" + Filler(before) + "\xE9\xFF\x80\xA0";
    const auto document = ParseOrFail("<?xml version='1.0' encoding='ISO-8859-1'?><a v='" + text +
                                      "&amp;" + text + "'>" + text + "&amp;" + text + "</a>");
    ASSERT_TRUE(document);
    const std::string quoted = "\"" + text + "\"";
    EXPECT_EQ("a(v=" + quoted + "&amp;" + quoted + ")[" + quoted + " &amp; " + quoted + "]",
              DescribeTree(*document));
  }
}

TEST(ParserScanTest, RefusesAFaultyByteAtEveryOffsetWithItsPosition) {
  const struct {
    std::string_view start, faulty;  // the filler follows the start, then the faulty bytes
    ParseError code;
    int columnPastFault;  // a refused byte that was read counts; a sequence is reported at its
                          // first byte
  } cases[] = {
      // clang-format off
      {"<a>", "\x01", ParseError::kIllegalCharacter, 1},
      {"<a>", "\xFF", ParseError::kInvalidUtf8, 0},
      {"<a>", "\xC3(", ParseError::kInvalidUtf8, 0},
      {"<a>", "\xEF\xBF\xBF", ParseError::kIllegalCharacter, 0},  // U+FFFF
      {"<a>", "]]>", ParseError::kCDataEndInText, 3},
      {"<a v='", "\x01", ParseError::kIllegalCharacter, 1},
      {"<a v='", "<", ParseError::kUnexpectedTag, 1},
      {"<a v='", "\xFF", ParseError::kInvalidUtf8, 0},
      // clang-format on
  };
  for (const int before : kOffsets) {
    for (const auto& c : cases) {
      ExpectParseFault(
          std::string(c.start) + Filler(before) + std::string(c.faulty) + Filler(20) + "'></a>",
          c.code, 1, static_cast<int>(c.start.size()) + before + 1 + c.columnPastFault);
    }
    for (const std::string_view start : {"<a>", "<a v='"})  // the end of input
      ExpectParseFault(std::string(start) + Filler(before), ParseError::kUnexpectedEndOfDocument, 1,
                       static_cast<int>(start.size()) + before + 1);
    // Line ends around the block edges: every one counted once, CR LF as one.
    for (const std::string_view lineEnd : {"\n", "\r\n", "\r"}) {
      ExpectParseFault("<a>" + Filler(before) + std::string(lineEnd) + Filler(before) +
                           std::string(lineEnd) + "  \x01</a>",
                       ParseError::kIllegalCharacter, 3, 3);
    }
  }
}

TEST(ParserScanTest, ClosesAnElementByItsNameWhateverFollowsIt) {
  const struct {
    std::string_view xml;
    ParseError code;  // kNoError: parses
    int column;
  } cases[] = {
      // clang-format off
      {"<md5>t</md5>", ParseError::kNoError, 0},
      {"<md5>t</md5 \r\n >", ParseError::kNoError, 0},
      {"<md5>t</md>", ParseError::kEndTagMismatch, 11},
      {"<md5>t</md5x>", ParseError::kEndTagMismatch, 13},
      {"<md5>t</md5.>", ParseError::kEndTagMismatch, 13},
      {"<md5>t</md5", ParseError::kInvalidEndTag, 12},  // the end right after the name
      {"<md5>t</md5/>", ParseError::kInvalidEndTag, 12},
      {"<md5>t</md5\xC3\xA9>", ParseError::kEndTagMismatch, 13},  // 0xC3 continues a name as a single byte, 0xA9 does not
      {"<md5>t</md5\x80>", ParseError::kInvalidUtf8, 12},  // checked before it is refused
      {"<md5>t</md5\xFF>", ParseError::kInvalidUtf8, 12},
      {"<md5>t</md5\xEF\xBF\xBF>", ParseError::kIllegalCharacter, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7>", ParseError::kNoError, 0},  // U+00F7: both bytes continue
      {"<a\xC3\xB7>t</a\xC3\xB7\x80>", ParseError::kInvalidEndTag, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7\xFF>", ParseError::kInvalidUtf8, 12},
      // clang-format on
  };
  for (const auto& c : cases) {
    if (c.code == ParseError::kNoError) {
      EXPECT_TRUE(ParseOrFail(c.xml)) << c.xml;
    } else {
      ExpectParseFault(c.xml, c.code, -1, c.column);
    }
  }
}

}  // namespace
