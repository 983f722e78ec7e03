// kelmotra-bend, run as a program: its two commands, its forms and its
// handling of bad usage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testsupport::RunResult;

std::string bend_tool() { return testsupport::tool_exe("kelmotra-bend"); }

RunResult bend(const std::vector<std::string>& args) {
    return testsupport::run_program(bend_tool(), args);
}

class KelmotraBend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::file_exists(bend_tool())) << bend_tool() << " is not built";
    }
};

}  // namespace

TEST_F(KelmotraBend, EncodesInEveryForm) {
    struct Case { std::vector<std::string> args; const char* text; };
    const Case cases[] = {
        {{"encode", "0", "0", "0", "0", "100"}, "AA#3#Bk"},
        {{"encode", "--form", "base64", "--order", "3", "-1", "-100"}, "//+c"},  // order ignored
        {{"encode", "--form", "enc", "0", "0", "0", "5", "5", "100"}, "$AFF@kA"},
        {{"encode", "--form=enc", "--order=1", "100", "100", "100", "90"}, "@k$A2"},
        {{"encode", "--form", "cmp", "--order", "1", "5", "6", "7", "100", "101"}, "'FJ@dA'B"},
        {{"encode", "--form", "hff", "--order", "1", "100", "100", "100", "90"}, "nCbQaHIF"},
        {{"encode", "--form", "hff", "0", "0", "0", "1"}, "lCqI"},
        {{"encode", "--", "-5", "2.5"}, "/7AD"},  // rounding halves up
    };
    for (const Case& c : cases) {
        RunResult r = bend(c.args);
        EXPECT_EQ(r.status, 0) << c.text << ": " << r.err;
        EXPECT_EQ(r.out, std::string(c.text) + "\n");
        EXPECT_EQ(r.err, "") << c.text;
    }
}

TEST_F(KelmotraBend, DecodesByFormAndByTempo) {
    struct Case { std::vector<std::string> args; const char* values; };
    const Case cases[] = {
        {{"decode", "AA#3#Bk"}, "0 0 0 0 100"},
        {{"decode", "--form", "cmp", "--order", "1", "BJJJ"}, "0 1 2 3 4 5 6 7"},
        {{"decode", "--form", "hff", "--order", "1", "nCbQaHIF"}, "100 100 100 90"},
        {{"decode", "--tempo", "!120*enc", "$AFF@kA"}, "0 0 0 5 5 100"},
        {{"decode", "--tempo", "!120*hff1", "nCbQaHIF"}, "100 100 100 90"},
        {{"decode", "--tempo", "!120", "//+c"}, "-1 -100"},
        {{"decode", "--tempo", "!120*ENC1", "@k$A2"}, "100 100 100 90"},  // mode 0 is the enc coder too
    };
    for (const Case& c : cases) {
        RunResult r = bend(c.args);
        EXPECT_EQ(r.status, 0) << c.values << ": " << r.err;
        EXPECT_EQ(r.out, std::string(c.values) + "\n");
    }
}

TEST_F(KelmotraBend, ReadsValuesFromStandardInput) {
    std::vector<std::string> args = {"-c", "printf '0 0\\n 0\\t0 100\\n' | \"$@\" encode --form enc --order 1", "sh"};
    for (const std::string& part : testsupport::program_command(bend_tool())) args.push_back(part);
    RunResult r = testsupport::run_program("/bin/sh", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "$B@kA\n");
}

TEST_F(KelmotraBend, LongCurvesRoundTripThroughTheTool) {
    std::vector<std::string> args = {"encode", "--form", "hff", "--order", "2"};
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        int v = (i % 700) - 350 + (i / 1000) * 3;
        args.push_back(std::to_string(v));
        expected += (i ? " " : "") + std::to_string(v);
    }
    RunResult enc = bend(args);
    ASSERT_EQ(enc.status, 0) << enc.err;
    ASSERT_FALSE(enc.out.empty());
    RunResult dec = bend({"decode", "--form", "hff", "--order", "2", enc.out.substr(0, enc.out.size() - 1)});
    EXPECT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(dec.out, expected + "\n");
}

TEST_F(KelmotraBend, ReportsTextsWithoutValuesAndCoderMessages) {
    RunResult r = bend({"decode", "--form", "enc", "!"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no bend values"), std::string::npos) << r.err;

    // One more bit dropped: the data ends inside the code 10.
    r = bend({"decode", "--form", "hff", "--order", "1", "nCbQaHIG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "100 100 100\n");
    EXPECT_NE(r.err.find("[Huffman-Code ist kaputt!]"), std::string::npos) << r.err;

    r = bend({"encode"});  // standard input is empty
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no values"), std::string::npos) << r.err;

    r = bend({"encode", "--form", "enc", "--order", "5", "1", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("encpitch: Argument 2 ist anomal."), std::string::npos) << r.err;

    // A curve the form cannot carry exactly is written, with a warning.
    r = bend({"encode", "3000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "u4\n");
    EXPECT_NE(r.err.find("warning"), std::string::npos);
}

TEST_F(KelmotraBend, BadUsageIsOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"transmogrify"},
        {"encode", "--form", "xyz", "1"},
        {"encode", "--order"},
        {"encode", "--order", "two", "1"},
        {"encode", "abc"},
        {"encode", "40000"},
        {"encode", "--tempo", "!120", "1"},
        {"encode", "--frobnicate", "1"},
        {"decode"},
        {"decode", "AA", "AB"},
        {"decode", "--tempo", "!120", "--form", "hff", "AA"},
    };
    for (const auto& args : cases) {
        RunResult r = bend(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_EQ(r.signal, 0) << joined;
        EXPECT_EQ(r.out, "") << joined;
        ASSERT_FALSE(r.err.empty()) << joined;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << joined << ": " << r.err;
    }
}

TEST_F(KelmotraBend, HelpDescribesTheCommands) {
    RunResult r = bend({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"encode", "decode", "--form", "--order", "--tempo", "hff", "cmp", "base64"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }    r = bend({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kelmotra-bend " KELMOTRA_VERSION "\n");
}
