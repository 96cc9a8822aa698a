#include "common/RtfToText.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

struct RtfCase {
  const char* name;
  std::string rtf;
  std::string text;
};

class RtfToTextCases : public ::testing::TestWithParam<RtfCase> {};

TEST_P(RtfToTextCases, GivesVisibleText) {
  EXPECT_EQ(RtfToText(GetParam().rtf), GetParam().text);
}

// What a word processor writes: header tables, a style sheet and document
// information before the text.
const char* const kWordPadDocument =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1031"
    "{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}{\\f1\\fswiss Arial;}}\r\n"
    "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
    "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}}\r\n"
    "{\\info{\\author Max}{\\title Brief}}\r\n"
    "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
    "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang7 Sehr geehrte Damen und Herren,\\par\r\n"
    "\\cf1\\b wir gr\\'fc\\'dfen\\b0  Sie.\\cf0\\par\r\n"
    "}\r\n";

INSTANTIATE_TEST_SUITE_P(
    Documents, RtfToTextCases,
    ::testing::Values(
        RtfCase{"Minimal", "{\\rtf1 Hallo}", "Hallo"},
        RtfCase{"WordPad", kWordPadDocument,
                "Sehr geehrte Damen und Herren,\r\nwir gr\xC3\xBC\xC3\x9F" "en Sie."},
        RtfCase{"ParagraphsAndEmptyParagraph", "{\\rtf1 eins\\par\\par zwei\\par drei}",
                "eins\r\n\r\nzwei\r\ndrei"},
        RtfCase{"LineBreakAndTab", "{\\rtf1 a\\line b\\tab c}", "a\r\nb\tc"},
        RtfCase{"EscapedSymbols", "{\\rtf1 a\\\\b \\{x\\}}", "a\\b {x}"},
        RtfCase{"HexIsWindows1252", "{\\rtf1 \\'80 \\'e4\\'f6\\'fc \\'93q\\'94}",
                "\xE2\x82\xAC \xC3\xA4\xC3\xB6\xC3\xBC \xE2\x80\x9Cq\xE2\x80\x9D"},
        RtfCase{"UnicodeSkipsOneFallback", "{\\rtf1 \\u8364?x}", "\xE2\x82\xAC" "x"},
        RtfCase{"UnicodeNegative", "{\\rtf1 \\u-3972?}", "\xEF\x81\xBC"},  // U+F07C
        RtfCase{"UnicodeFallbackAsHex", "{\\rtf1\\uc1 \\u228\\'e4 ok}", "\xC3\xA4 ok"},
        RtfCase{"UnicodeTwoFallbacks", "{\\rtf1\\uc2 \\u8364\\'80\\'80x}", "\xE2\x82\xAC" "x"},
        RtfCase{"UnicodeNoFallback", "{\\rtf1\\uc0 \\u8364x}", "\xE2\x82\xAC" "x"},
        RtfCase{"UcIsScopedToItsGroup", "{\\rtf1{\\uc0 \\u65 B}\\u67 D}", "ABC"},
        RtfCase{"SurrogatePair", "{\\rtf1 \\u-10179?\\u-8704?}", "\xF0\x9F\x98\x80"},
        RtfCase{"IgnorableDestination", "{\\rtf1 a{\\*\\unknownthing secret{\\x nested}}b}", "ab"},
        RtfCase{"PictureAndObject",
                "{\\rtf1 vor{\\pict\\pngblip 89504e47}{\\object{\\objdata 0102}}nach}", "vornach"},
        RtfCase{"FieldShowsResultOnly",
                "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt Link}}}", "Link"},
        RtfCase{"BinaryDataIsSkipped", "{\\rtf1 a{\\pict\\bin4 }{\\}}b}", "ab"},
        RtfCase{"ControlWordDelimiterSpaceConsumed", "{\\rtf1\\b fett\\b0  normal}", "fett normal"},
        RtfCase{"RawLineBreaksIgnored", "{\\rtf1 zei\r\nle}", "zeile"},
        RtfCase{"BackslashNewlineIsParagraph", "{\\rtf1 a\\\nb}", "a\r\nb"},
        RtfCase{"TextAfterDocumentEndIgnored", "{\\rtf1 drin}drau\\'dfen", "drin"},
        RtfCase{"UnclosedDocument", "{\\rtf1 offen{\\b fett", "offenfett"},
        RtfCase{"StrayClosingBraces", "{\\rtf1 a}}}", "a"},
        RtfCase{"TruncatedEscapes", "{\\rtf1 a\\'", "a"},
        RtfCase{"TruncatedHex", "{\\rtf1 a\\'e", "a"},
        RtfCase{"RawUtf8Text", "{\\rtf1 gr\xC3\xBC\xC3\x9F}", "gr\xC3\xBC\xC3\x9F"},
        RtfCase{"RawWindows1252Text", "{\\rtf1 gr\xFC\xDF}", "gr\xC3\xBC\xC3\x9F"},
        RtfCase{"NotRtfUnchanged", "Hallo {\\b Welt}\r\n", "Hallo {\\b Welt}\r\n"},
        RtfCase{"UpperCaseHeaderIsNotRtf", "{\\RTF1 x}", "{\\RTF1 x}"},
        RtfCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtfToText, DeeplyNestedGroupsDoNotExhaustTheStack) {
  constexpr size_t kDepth = 100000;
  std::string rtf = "{\\rtf1 ";
  rtf.append(kDepth, '{');
  rtf += "tief";
  rtf.append(kDepth, '}');
  rtf += "oben}";
  EXPECT_EQ(RtfToText(rtf), "tiefoben");

  // Skipped destinations nested that deep stay skipped to their end.
  std::string hidden = "{\\rtf1 a{\\*\\x";
  hidden.append(kDepth, '{');
  hidden += "nicht";
  hidden.append(kDepth, '}');
  hidden += "}b}";
  EXPECT_EQ(RtfToText(hidden), "ab");
}

TEST(RtfToText, HostileInputGivesTextWithoutThrowing) {
  // Unclosed groups without end, huge numbers and long control words.
  std::string rtf = "{\\rtf1 ";
  rtf.append(2000000, '{');
  rtf += "\\u99999999999999999999 \\uc99999999999 \\bin99999999999999 x";
  EXPECT_NO_THROW(RtfToText(rtf));
  std::string word = "{\\rtf1 \\" + std::string(100000, 'a') + " x}";
  EXPECT_EQ(RtfToText(word), "x");
}

}  // namespace
}  // namespace tarvo
