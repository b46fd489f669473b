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
using brevick::testing::ParseExpectingFailure;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;

// Where the byte that ends a run is put: the run's first byte, around the
// first and second block edges, and far in.
constexpr int kOffsets[] = {0, 1, 14, 15, 16, 17, 31, 32, 33, 47, 64};

std::string Filler(int count) { return std::string(static_cast<std::size_t>(count), 'x'); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

TEST(ParserScanTest, FindsWhatEndsAContentRunAtEveryOffset) {
  struct Case {
    std::string_view between;  // what stands between the two fillers
    std::string_view described;
  };
  const Case cases[] = {
      {"&amp;", "\" &amp; \""},
      {"<b/>", "\" b \""},
      {"<!--c-->", "\" #\"c\" \""},
      {"]", "]"},  // a lone "]" stays in the text
      {"]]", "]]"},
      {"\t", "\t"},
      {"\x7F", "\x7F"},  // DEL is text
      {"\r\n", "\r\n"},
      {"\xC3\xA9", "\xC3\xA9"},                  // U+00E9
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // U+1F600
  };
  for (const Case& c : cases) {
    for (const int before : kOffsets) {
      const std::string xml = "<a>" + Filler(before) + std::string(c.between) + Filler(5) + "</a>";
      SCOPED_TRACE(xml);
      const auto document = ParseOrFail(xml);
      ASSERT_TRUE(document);
      EXPECT_EQ("a[\"" + Filler(before) + std::string(c.described) + Filler(5) + "\"]",
                DescribeTree(*document));
    }
  }
}

TEST(ParserScanTest, FindsWhatEndsAnAttributeValueAtEveryOffset) {
  struct Case {
    std::string_view between;
    std::string_view described;
  };
  const Case cases[] = {
      {"&amp;", "\"&amp;\""}, {"'", "'"},  // the other quote is part of the value
      {"]]>", "]]>"},         {"\t", "\t"}, {"\n", "\n"}, {"\xC3\xA9", "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    for (const int before : kOffsets) {
      const std::string value = Filler(before) + std::string(c.between) + Filler(3);
      const std::string xml = "<a v=\"" + value + "\"/>";
      SCOPED_TRACE(xml);
      const auto document = ParseOrFail(xml);
      ASSERT_TRUE(document);
      EXPECT_EQ("a(v=\"" + Filler(before) + std::string(c.described) + Filler(3) + "\")",
                DescribeTree(*document));
    }
  }
  // The closing quote itself, and an empty value.
  for (const int before : kOffsets) {
    const auto document = ParseOrFail("<a v='" + Filler(before) + "'/>");
    ASSERT_TRUE(document);
    EXPECT_EQ("a(v=" + Quoted(Filler(before)) + ")", DescribeTree(*document));
  }
}

TEST(ParserScanTest, RefusesAFaultyByteAtEveryOffsetWithItsPosition) {
  struct Case {
    std::string_view start;  // the filler follows, then the faulty bytes
    std::string_view faulty;
    ParseError code;
    // The column reported, counted from the faulty byte's own column: a
    // refused byte that was read counts, an ill-formed sequence is
    // reported at its first byte.
    int columnPastFault;
  };
  const Case cases[] = {
      {"<a>", "\x01", ParseError::kIllegalCharacter, 1},
      {"<a>", "\xFF", ParseError::kInvalidUtf8, 0},
      {"<a>", "\xC3(", ParseError::kInvalidUtf8, 0},
      {"<a>", "\xEF\xBF\xBF", ParseError::kIllegalCharacter, 0},  // U+FFFF
      {"<a>", "]]>", ParseError::kCDataEndInText, 3},
      {"<a v='", "\x01", ParseError::kIllegalCharacter, 1},
      {"<a v='", "<", ParseError::kUnexpectedTag, 1},
      {"<a v='", "\xFF", ParseError::kInvalidUtf8, 0},
  };
  for (const Case& c : cases) {
    for (const int before : kOffsets) {
      const std::string xml =
          std::string(c.start) + Filler(before) + std::string(c.faulty) + Filler(20) + "'></a>";
      SCOPED_TRACE(xml);
      const xmldoc::ParsingException e = ParseExpectingFailure(xml);
      EXPECT_EQ(c.code, e.errorCode) << e.GetErrorText();
      EXPECT_EQ(1, e.line);
      const int faultColumn = static_cast<int>(c.start.size()) + before + 1;
      EXPECT_EQ(faultColumn + c.columnPastFault, e.column);
    }
  }
}

TEST(ParserScanTest, CountsLinesAcrossBlockEdges) {
  // A fault after line ends that fall around the block edges: its line and
  // column show that every line end was counted once, CR LF as one.
  for (const std::string_view lineEnd : {"\n", "\r\n", "\r"}) {
    for (const int before : kOffsets) {
      const std::string xml = "<a>" + Filler(before) + std::string(lineEnd) + Filler(before) +
                              std::string(lineEnd) + "  \x01</a>";
      SCOPED_TRACE(xml);
      const xmldoc::ParsingException e = ParseExpectingFailure(xml);
      EXPECT_EQ(ParseError::kIllegalCharacter, e.errorCode);
      EXPECT_EQ(3, e.line);
      EXPECT_EQ(3, e.column);
    }
  }
}

TEST(ParserScanTest, EndsAtTheEndOfInputWhereverItFalls) {
  for (const int before : kOffsets) {
    for (const std::string_view start : {"<a>", "<a v='"}) {
      const std::string xml = std::string(start) + Filler(before);
      SCOPED_TRACE(xml);
      const xmldoc::ParsingException e = ParseExpectingFailure(xml);
      EXPECT_EQ(ParseError::kUnexpectedEndOfDocument, e.errorCode);
      EXPECT_EQ(1, e.line);
      EXPECT_EQ(static_cast<int>(xml.size()) + 1, e.column);
    }
  }
}

TEST(ParserScanTest, TakesHighBytesAsTheyComeInAnotherEncodingAndStillStops) {
  // In ISO-8859-1 bytes of 0x80 and above are plain text; a run full of
  // them must still stop at the reference and the tag behind them.
  const std::string latin1 = "\xE9\xFF\x80\xA0";
  for (const int before : kOffsets) {
    const std::string text = Filler(before) + latin1 + Filler(before) + latin1;
    const std::string xml = "<?xml version='1.0' encoding='ISO-8859-1'?><a v='" + text + "&amp;" +
                            text + "'>" + text + "&amp;" + text + "</a>";
    SCOPED_TRACE(xml);
    const auto document = ParseOrFail(xml);
    ASSERT_TRUE(document);
    EXPECT_EQ("a(v=" + Quoted(text) + "&amp;" + Quoted(text) + ")[" + Quoted(text) + " &amp; " +
                  Quoted(text) + "]",
              DescribeTree(*document));
  }
}

TEST(ParserScanTest, ClosesAnElementByItsNameWhateverFollowsIt) {
  struct Case {
    std::string_view xml;
    ParseError code;  // kNoError: parses
    int column;
  };
  const Case cases[] = {
      {"<md5>t</md5>", ParseError::kNoError, 0},
      {"<md5>t</md5 \r\n >", ParseError::kNoError, 0},
      {"<md5>t</md>", ParseError::kEndTagMismatch, 11},
      {"<md5>t</md5x>", ParseError::kEndTagMismatch, 13},
      {"<md5>t</md5.>", ParseError::kEndTagMismatch, 13},
      {"<md5>t</md5", ParseError::kInvalidEndTag, 12},  // the end right after the name
      {"<md5>t</md5/>", ParseError::kInvalidEndTag, 12},
      // 0xC3 continues a name as a single byte, 0xA9 does not.
      {"<md5>t</md5\xC3\xA9>", ParseError::kEndTagMismatch, 13},
      {"<md5>t</md5\x80>", ParseError::kInvalidUtf8, 12},  // checked before it is refused
      {"<md5>t</md5\xFF>", ParseError::kInvalidUtf8, 12},
      {"<md5>t</md5\xEF\xBF\xBF>", ParseError::kIllegalCharacter, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7>", ParseError::kNoError, 0},  // U+00F7: both bytes continue
      {"<a\xC3\xB7>t</a\xC3\xB7\x80>", ParseError::kInvalidEndTag, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7\xFF>", ParseError::kInvalidUtf8, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.xml));
    if (c.code == ParseError::kNoError) {
      EXPECT_TRUE(ParseOrFail(c.xml));
      continue;
    }
    const xmldoc::ParsingException e = ParseExpectingFailure(c.xml);
    EXPECT_EQ(c.code, e.errorCode) << e.GetErrorText();
    EXPECT_EQ(c.column, e.column);
  }
}

}  // namespace
