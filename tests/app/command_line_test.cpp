#include "app/command_line.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct ParseCase {
    const char* commandLine;
    std::vector<std::string> fields;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.commandLine;
}

class CaretParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(CaretParsing, YieldsFields) {
    const ParseCase& c = GetParam();
    const CaretFields parsed = ParseCaretFields(c.commandLine);
    ASSERT_EQ(parsed.count, static_cast<int>(c.fields.size()));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(parsed.field[i], i < c.fields.size() ? c.fields[i] : "") << "field " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CaretParsing,
    testing::Values(ParseCase{"Update.exe ^-1^Game^patch.cab^", {"-1", "Game", "patch.cab"}},
                    ParseCase{"Update.exe ^12^Game^patch.cab^Bin^",
                              {"12", "Game", "patch.cab", "Bin"}},
                    ParseCase{"x ^a^^b^c^d^", {"a", "^b", "b", "c"}},
                    ParseCase{"x ^1^2^3^4^5^", {"1", "2", "3", "4"}},
                    ParseCase{"x ^1^2^3^4^tail", {"1", "2", "3", "4"}},
                    ParseCase{"\"C:\\Program Files\\Update.exe\" /switch ^7^G^p.cab^B^",
                              {"7", "G", "p.cab", "B"}},
                    ParseCase{"\"C:\\Game\\Update.exe\" /ui:script ^7^G^", {"7", "G"}},
                    ParseCase{"Update.exe", {}}, ParseCase{"Update.exe ^", {}},
                    ParseCase{"Update.exe ^^", {}}, ParseCase{"Update.exe ^^^", {"^"}},
                    ParseCase{"Update.exe ^abc", {}},
                    ParseCase{"Update.exe ^12^Game^sub\\patch.cab^Bin^",
                              {"12", "Game", "sub\\patch.cab", "Bin"}},
                    ParseCase{"", {}}));

TEST(CaretParsingLimits, LongFieldIsCutAt259) {
    const std::string longField(400, 'x');
    const CaretFields parsed = ParseCaretFields("U ^12^" + longField + "^p.cab^");
    ASSERT_EQ(parsed.count, 3);
    EXPECT_EQ(parsed.field[1], std::string(259, 'x'));
    EXPECT_EQ(parsed.field[2], "p.cab") << "the next field is still found";
}

TEST(WindowNumber, AsTheRuntimeConvertsIt) {
    const std::pair<const char*, int> cases[] = {{"12", 12},
                                                 {"-1", -1},
                                                 {"abc", 0},
                                                 {"", 0},
                                                 {" 7x", 7},
                                                 {"+5", 5},
                                                 {"1.9", 1},
                                                 {"-", 0},
                                                 {"2147483647", INT_MAX},
                                                 {"99999999999999999999", INT_MAX},
                                                 {"-99999999999999999999", INT_MIN},
                                                 {"^b", 0}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseWindowNumber(text), value) << text;
}

TEST(FieldContainment, RelativePathsInsideOnly) {
    for (const char* inside :
         {"patch.cab", "sub\\patch.cab", "a/b.cab", "Bin", "", "..x", "x..\\y", "a\\...\\b"}) {
        EXPECT_TRUE(StaysInside(inside)) << inside;
    }
    for (const char* outside :
         {"..", "..\\patch.cab", "sub\\..\\..\\x", "a/../b", "\\abs", "/abs", "C:\\x", "x\\.."}) {
        EXPECT_FALSE(StaysInside(outside)) << outside;
    }
}

}  // namespace
