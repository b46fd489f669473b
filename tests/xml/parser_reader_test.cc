// tests/xml/parser_reader_test.cc: the reader under the grammar: line-end
// folding, stepping back, and the line and column it reports.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "xml/parser.h"

namespace {

// Opens the reader's protected operations to the test.
class ReaderProbe : public xmldoc::Parser {
 public:
  explicit ReaderProbe(std::string_view input) : text(input) { Start(text.data(), text.size()); }

  using Parser::Column;
  using Parser::GetChar;
  using Parser::Line;
  using Parser::MatchEq;
  using Parser::MatchString;
  using Parser::ReadDecimal;
  using Parser::ReadHex;
  using Parser::SkipSpaces;
  using Parser::UngetChar;

  std::string Position() const { return std::to_string(Line()) + ":" + std::to_string(Column()); }

 private:
  std::string text;
};

TEST(ParserReaderTest, FoldsLineEndsAndCountsColumnsFromTheLineEnd) {
  ReaderProbe reader("ab\r\nc\rd\n");
  EXPECT_EQ("1:1", reader.Position());
  EXPECT_EQ('a', reader.GetChar());
  EXPECT_EQ("1:2", reader.Position());  // the first line counts from 1
  EXPECT_EQ('b', reader.GetChar());
  EXPECT_EQ('\n', reader.GetChar());  // CR LF reads as one LF
  EXPECT_EQ("2:0", reader.Position());
  EXPECT_EQ('c', reader.GetChar());
  EXPECT_EQ("2:1", reader.Position());
  EXPECT_EQ('\n', reader.GetChar());  // so does a lone CR
  EXPECT_EQ('d', reader.GetChar());
  EXPECT_EQ('\n', reader.GetChar());
  EXPECT_EQ("4:0", reader.Position());
  EXPECT_EQ(0, reader.GetChar());
  EXPECT_EQ(0, reader.GetChar());
  EXPECT_EQ("4:0", reader.Position());
}

TEST(ParserReaderTest, StepsBackOverOneCharacterButNotOverTheEnd) {
  ReaderProbe reader("x\r\ny");
  reader.GetChar();
  reader.GetChar();
  EXPECT_EQ("2:0", reader.Position());
  reader.UngetChar();  // back over CR LF as one character
  EXPECT_EQ("1:2", reader.Position());
  EXPECT_EQ('\n', reader.GetChar());
  EXPECT_EQ('y', reader.GetChar());
  EXPECT_EQ(0, reader.GetChar());
  reader.UngetChar();  // the end, once read, stays read
  EXPECT_EQ(0, reader.GetChar());

  ReaderProbe start("z");
  start.UngetChar();  // at the first byte: stays there
  EXPECT_EQ("1:1", start.Position());
  EXPECT_EQ('z', start.GetChar());
}

TEST(ParserReaderTest, ReadsAZeroByteAsTheEndButMovesPastIt) {
  ReaderProbe reader(std::string_view("a\0b", 3));
  reader.GetChar();
  EXPECT_EQ(0, reader.GetChar());
  EXPECT_EQ("1:3", reader.Position());
  EXPECT_EQ('b', reader.GetChar());
}

TEST(ParserReaderTest, RestoresThePositionWhenAMatchFails) {
  ReaderProbe reader("<?xm>  \t\n = 1");
  EXPECT_FALSE(reader.MatchString("<?xml"));
  EXPECT_EQ("1:1", reader.Position());
  EXPECT_TRUE(reader.MatchString("<?xm"));
  EXPECT_TRUE(reader.MatchString(""));
  EXPECT_FALSE(reader.MatchEq());  // ">" is no "="
  EXPECT_EQ("1:5", reader.Position());
  reader.GetChar();
  EXPECT_TRUE(reader.MatchEq());
  EXPECT_EQ("2:3", reader.Position());
  EXPECT_FALSE(reader.SkipSpaces());
  EXPECT_EQ('1', reader.GetChar());
}

TEST(ParserReaderTest, ReadsNumbersWithoutWrappingAround) {
  const struct {
    std::string_view digits;
    bool hex;
    std::uint32_t value;
  } cases[] = {
      {"65;", false, 65},
      {"0000065;", false, 65},
      {"10FFFF;", true, 0x10FFFF},
      {"aBc;", true, 0xABC},
      {"1114112;", false, 0x110000},
      {"4294967361;", false, 0x110000},  // 2^32 + 65 must not read as 65
      {"100000041;", true, 0x110000},
      {"99999999999999999999999;", false, 0x110000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.digits));
    ReaderProbe reader(c.digits);
    std::uint32_t value = 0;
    ASSERT_TRUE(c.hex ? reader.ReadHex(value) : reader.ReadDecimal(value));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(';', reader.GetChar());  // the run ends before the non-digit
  }
  ReaderProbe notANumber("x1");
  std::uint32_t value = 7;
  EXPECT_FALSE(notANumber.ReadDecimal(value));
  EXPECT_EQ('1', notANumber.GetChar());  // the non-digit was read
}

}  // namespace
