// vantrel's command line.
#include <gtest/gtest.h>

#include "host/CommandLine.h"

using namespace vantrel;

namespace {

CommandLineResult Parse(std::vector<const char*> args, HostOptions& options, std::string& error) {
    args.insert(args.begin(), "vantrel");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(CommandLine, DrivesFaultsTraceAndAddOns) {
    HostOptions options;
    std::string error;
    ASSERT_EQ(
        Parse({"--drive", "M:INTERNAL=/tmp/m", "--drive", "a:WORK=/tmp/a,capacity=128K,media=4",
               "--drive", "B:ROM=/tmp/b,ro", "--addons", "/x", "--addon", "/y/z.so", "--mount-root",
               "/mnt/p", "--trace", "/tmp/t", "--fault", "drop:3", "--fault", "late:1:200@LINK",
               "--relaxed-names"},
              options, error),
        CommandLineResult::Run)
        << error;
    ASSERT_EQ(options.drives.size(), 3u);
    EXPECT_EQ(options.drives[0].letter, 'M');
    EXPECT_EQ(options.drives[0].volumeName, "INTERNAL");
    EXPECT_EQ(options.drives[0].folder, "/tmp/m");
    EXPECT_EQ(options.drives[1].letter, 'A');
    EXPECT_EQ(options.drives[1].capacity, 128u * 1024);
    EXPECT_EQ(options.drives[1].mediaType, 4);
    EXPECT_FALSE(options.drives[1].IsReadOnly());
    EXPECT_TRUE(options.drives[2].IsReadOnly());
    EXPECT_EQ(options.addOnFolder, "/x");
    EXPECT_EQ(options.addOnFiles, std::vector<std::string>{"/y/z.so"});
    EXPECT_EQ(options.mountRoot, "/mnt/p");
    EXPECT_EQ(options.traceFile, "/tmp/t");
    ASSERT_EQ(options.faults.size(), 2u);
    EXPECT_EQ(options.faults[1].server, "LINK");
    EXPECT_TRUE(options.relaxedNames);
    // Without --speed the family's cable speed applies.
    EXPECT_EQ(options.speed.bytesPerSecond, 1920u);
}

TEST(CommandLine, FamilyAndSpeed) {
    HostOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--series5"}, options, error), CommandLineResult::Run);
    EXPECT_EQ(options.family, Family::Series5);
    EXPECT_EQ(options.speed.bytesPerSecond, 11520u);
    HostOptions fast;
    ASSERT_EQ(Parse({"--speed", "0", "--latency", "0"}, fast, error), CommandLineResult::Run);
    EXPECT_EQ(fast.speed.bytesPerSecond, 0u);
    EXPECT_EQ(fast.speed.latency, 0);
}

TEST(CommandLine, MistakesAreReported) {
    for (std::vector<const char*> args : {std::vector<const char*>{"--drive"},
                                          {"--drive", "M=/x"},
                                          {"--drive", "M:V="},
                                          {"--drive", "M:V=/x,size=3"},
                                          {"--drive", "M:V=/x,capacity=9999999999"},
                                          {"--speed", "fast"},
                                          {"--fault", "drop"},
                                          {"--what"}}) {
        HostOptions options;
        std::string error;
        EXPECT_EQ(Parse(args, options, error), CommandLineResult::Error) << args[0];
        EXPECT_FALSE(error.empty());
    }
    HostOptions options;
    std::string error;
    EXPECT_EQ(Parse({"--help"}, options, error), CommandLineResult::Help);
}

TEST(CommandLine, CacheTimeAndQuiet) {
    HostOptions options;
    std::string error;
    ASSERT_EQ(Parse({}, options, error), CommandLineResult::Run);
    EXPECT_EQ(options.cacheSeconds, 2.0);
    EXPECT_FALSE(options.quiet);
    ASSERT_EQ(Parse({"--cache-seconds", "0.25", "--quiet"}, options, error),
              CommandLineResult::Run);
    EXPECT_EQ(options.cacheSeconds, 0.25);
    EXPECT_TRUE(options.quiet);
    for (const char* bad : {"", "-1", "2s", "nan", "99999"}) {
        HostOptions refused;
        EXPECT_EQ(Parse({"--cache-seconds", bad}, refused, error), CommandLineResult::Error) << bad;
    }
}

TEST(CommandLine, LinuxMountAccessIsOwnerOnlyWithUmask022UnlessAsked) {
    HostOptions defaults;
    std::string error;
    ASSERT_EQ(Parse({}, defaults, error), CommandLineResult::Run);
    EXPECT_FALSE(defaults.allowOther);
    EXPECT_EQ(defaults.umask, 022u);
    HostOptions asked;
    ASSERT_EQ(Parse({"--allow-other", "--umask", "027"}, asked, error), CommandLineResult::Run)
        << error;
    EXPECT_TRUE(asked.allowOther);
    EXPECT_EQ(asked.umask, 027u);
    for (const char* bad : {"8", "1000", "-1", "", "22x"}) {
        HostOptions options;
        EXPECT_EQ(Parse({"--umask", bad}, options, error), CommandLineResult::Error) << bad;
    }
}

}  // namespace
