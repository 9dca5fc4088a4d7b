#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Options.h"

namespace ketrion {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "ketrion");
    return ParseOptions(args);
}

TEST(Options, WhatTheCommandLineAsks) {
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        bool simulate;
        std::string scenario;
        std::string port;
        std::string registry;
    };
    const Case cases[] = {
        {"nothing: search the registry", {}, false, "", "", ""},
        {"simulator with the sample site", {"--simulate"}, true, "", "", ""},
        {"simulator with a scenario file", {"--simulate=site.json"}, true, "site.json", "", ""},
        {"a port by path", {"--port", "/dev/ttyUSB0"}, false, "", "/dev/ttyUSB0", ""},
        {"a registry file", {"--registry=reg.txt"}, false, "", "", "reg.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ParsedOptions parsed = Parse(c.args);
        ASSERT_FALSE(parsed.exitCode) << parsed.err;
        EXPECT_EQ(parsed.options.simulate, c.simulate);
        EXPECT_EQ(parsed.options.scenario, c.scenario);
        EXPECT_EQ(parsed.options.port, c.port);
        EXPECT_EQ(parsed.options.registryFile, c.registry);
        EXPECT_FALSE(parsed.options.autopilot);
    }
}

TEST(Options, AutopilotSettings) {
    const ParsedOptions parsed =
        Parse({"--simulate", "--autopilot", "--projection", "a.ktp", "--collection", "b.ktd",
               "--readings", "3", "--snapshot", "c.jpg", "--screenshot", "d.png"});
    ASSERT_FALSE(parsed.exitCode) << parsed.err;
    const Options& o = parsed.options;
    EXPECT_TRUE(o.simulate);
    EXPECT_TRUE(o.autopilot);
    EXPECT_EQ(o.projection, "a.ktp");
    EXPECT_EQ(o.collection, "b.ktd");
    EXPECT_EQ(o.readings, 3);
    EXPECT_EQ(o.snapshot, "c.jpg");
    EXPECT_EQ(o.screenshot, "d.png");
}

TEST(Options, SessionFilesAndTheWindowLayout) {
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        bool handheldLayout;
    };
    const Case cases[] = {
        {"a desktop session with its files",
         {"--projection", "a.ktp", "--collection", "b.ktd"},
         false},
        {"the handheld's window", {"--handheld", "--collection", "b.ktd"}, true},
        {"the unattended survey keeps the handheld's pictures",
         {"--autopilot", "--collection", "b.ktd"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ParsedOptions parsed = Parse(c.args);
        ASSERT_FALSE(parsed.exitCode) << parsed.err;
        EXPECT_EQ(parsed.options.collection, "b.ktd");
        EXPECT_EQ(parsed.options.HandheldLayout(), c.handheldLayout);
    }
    EXPECT_EQ(Parse({"--projection", "a.ktp"}).options.projection, "a.ktp");
    EXPECT_FALSE(Parse({}).options.HandheldLayout());
}

TEST(Options, HelpAndVersionPrintAndEndWell) {
    const ParsedOptions help = Parse({"--help"});
    ASSERT_TRUE(help.exitCode);
    EXPECT_EQ(*help.exitCode, 0);
    for (const char* option : {"--registry", "--port", "--simulate", "--autopilot", "--version",
                               "--handheld", "--projection", "--collection"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_TRUE(help.err.empty());

    const ParsedOptions version = Parse({"--version"});
    ASSERT_TRUE(version.exitCode);
    EXPECT_EQ(*version.exitCode, 0);
    EXPECT_EQ(version.out, "ketrion 1.03\n");
}

TEST(Options, MistakesEndWithStatusTwoAndSayWhat) {
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        const char* mentions;
    };
    const Case cases[] = {
        {"unknown option", {"--bogus"}, "--bogus"},
        {"two ways to the board", {"--port", "/dev/ttyS0", "--simulate"}, "--simulate"},
        {"registry and port", {"--registry", "r.txt", "--port", "/dev/ttyS0"}, "--port"},
        {"autopilot option alone", {"--readings", "3"}, "--autopilot"},
        {"negative readings", {"--autopilot", "--readings", "-1"}, "--readings"},
        {"readings not a number", {"--autopilot", "--readings", "many"}, "--readings"},
        {"a stray argument", {"extra"}, "extra"},
        {"zero timeout", {"--handshake-timeout", "0"}, "--handshake-timeout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ParsedOptions parsed = Parse(c.args);
        ASSERT_TRUE(parsed.exitCode);
        EXPECT_EQ(*parsed.exitCode, 2);
        EXPECT_NE(parsed.err.find(c.mentions), std::string::npos) << parsed.err;
        EXPECT_NE(parsed.err.find("--help"), std::string::npos);
    }
}

}  // namespace
}  // namespace ketrion
