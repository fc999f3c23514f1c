// `quenlitor-tokens normalize` as scripts use it: one normalized line, or a usage error.
#include "support/RunTool.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace quenlitor::testing {
namespace {

TEST(ToolNormalize, PrintsTheNormalizedTextAndOneNewline) {
    struct Row {
        std::vector<std::string> options; // one argument ("--title=-x") or an option and its value
        std::string out;
    };
    const std::vector<Row> rows{
        {{"--title", " C∆9 "}, "Cmaj9\n"},
        {{"--token", "“CΔ” C4 E G ."}, "\"Cmaj7\" C4 E G .\n"},
        {{"--token", "C4\tE4\n."}, "C4 E4 .\n"},
        {{"--title", "-x"}, "-x\n"},  // a value is taken verbatim, dash or not
        {{"--title=-x"}, "-x\n"},
        {{"--token", "--"}, "--\n"},
        {{"--title", "--help"}, "--help\n"}, // a value, not a request for help
        {{"--title="}, "\n"},
        {{"--title", "C\xFF\xCE"}, "C\uFFFD\uFFFD\n"},
    };
    for (const auto& [options, out] : rows) {
        SCOPED_TRACE(::testing::PrintToString(options));
        const auto result = options.size() == 1 ? runTool({"normalize", options[0]})
                                                : runTool({"normalize", options[0], options[1]});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }
}

TEST(ToolNormalize, NeedsExactlyOneOfTitleAndToken) {
    for (const auto& args : {std::initializer_list<std::string>{"normalize"},
                             {"normalize", "--title", "a", "--token", "b"},
                             {"normalize", "--title", "a", "--title", "b"},
                             {"normalize", "--title", "a", "b"},
                             {"normalize", "--title"},
                             {"normalize", "--texto", "a"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto result = runTool(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("Uso: quenlitor-tokens normalize"), std::string::npos);
    }
}

} // namespace
} // namespace quenlitor::testing
