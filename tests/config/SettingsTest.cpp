// The host keeps the mount client's settings between runs: the settings file, the `config`
// command that changes them through the add-on's own view, and a restarted host finding them.
// Each test runs against the stand-in add-on and, once it is built, the real mount client.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "ConfigVar.h"
#include "host/CommandLine.h"
#include "host/ConfigCommand.h"
#include "host/HostLink.h"
#include "host/Settings.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs vantrel with the arguments; its standard output and exit code.
std::pair<std::string, int> RunVantrel(const std::string& arguments) {
    std::string command = std::string(TAVRO_BIN_DIR) + "/vantrel " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {"", -1};
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

class HostSettings : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(GetParam())) GTEST_SKIP() << GetParam() << " not built";
        std::string pattern = std::filesystem::temp_directory_path() / "tavro-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern + "/config/tavro";
        std::string error;
        addOn = vantrel::AddOn::Load(GetParam(), error);
        ASSERT_TRUE(addOn) << error;
        ASSERT_EQ(addOn->Initialise(), 0);
        record = static_cast<CONFIG_VAR*>(addOn->Symbol("configs"));
        ASSERT_NE(record, nullptr);
    }
    void TearDown() override {
        addOn.reset();
        if (!folder.empty()) std::filesystem::remove_all(folder + "/../..");
    }

    std::string File() const { return vantrel::SettingsFile(folder, *addOn); }

    std::string folder;
    std::unique_ptr<vantrel::AddOn> addOn;
    CONFIG_VAR* record = nullptr;
};

}  // namespace

TEST_P(HostSettings, TheFileKeepsTheRecord) {
    EXPECT_EQ(vantrel::LoadSettings(*addOn, folder), B_ENTRY_NOT_FOUND);
    EXPECT_STREQ(record->mountPoint, "/mnt/psion");

    record->debug = 1;
    // Awkward but legal paths survive the trip.
    strcpy(record->debugFile, "/tmp/a\\b\nc.log");
    strcpy(record->mountPoint, "/media/my psion");
    ASSERT_EQ(vantrel::SaveSettings(*addOn, folder), B_OK);
    EXPECT_EQ(ReadText(File()), "# Settings of the " + addOn->Name() +
                                    " add-on, kept by vantrel.\n"
                                    "debug=on\n"
                                    "debug-file=/tmp/a\\\\b\\nc.log\n"
                                    "mount-root=/media/my psion\n");
    EXPECT_FALSE(std::filesystem::exists(File() + ".new"));

    ASSERT_EQ(addOn->Initialise(), 0);
    ASSERT_EQ(vantrel::LoadSettings(*addOn, folder), B_OK);
    EXPECT_EQ(record->debug, 1);
    EXPECT_STREQ(record->debugFile, "/tmp/a\\b\nc.log");
    EXPECT_STREQ(record->mountPoint, "/media/my psion");
}

TEST_P(HostSettings, AHandEditedFileIsReadWithCare) {
    std::filesystem::create_directories(folder);
    std::ofstream(File()) << "# comment\n\nnonsense\ncolour=blue\ndebug=off\n"
                          << "mount-root=/" << std::string(400, 'r') << "\n";
    record->debug = 1;
    ASSERT_EQ(vantrel::LoadSettings(*addOn, folder), B_OK);
    EXPECT_EQ(record->debug, 0);
    EXPECT_EQ(std::string(record->mountPoint), "/" + std::string(254, 'r'));
    // A key the file lacks keeps its value.
    EXPECT_STREQ(record->debugFile, "/var/log/rfsv-client.log");
}

TEST_P(HostSettings, TheCommandWorksTheViewAsAUserWould) {
    std::vector<vantrel::SettingChange> changes;
    std::string error;
    ASSERT_TRUE(vantrel::ParseSettingChanges(
        {"mount-root=/media/psion/", "debug-file=/tmp/rfsv.log", "debug=on"}, changes, error));
    ASSERT_EQ(vantrel::ApplyThroughConfigView(*addOn, changes, error), B_OK) << error;
    // The view's rules apply: one trailing "/" goes, the switch is set at once.
    EXPECT_EQ(record->debug, 1);
    EXPECT_STREQ(record->mountPoint, "/media/psion");
    EXPECT_STREQ(record->debugFile, "/tmp/rfsv.log");

    ASSERT_TRUE(vantrel::ParseSettingChanges({"debug=off", "mount-root=/"}, changes, error));
    ASSERT_EQ(vantrel::ApplyThroughConfigView(*addOn, changes, error), B_OK) << error;
    EXPECT_EQ(record->debug, 0);
    EXPECT_STREQ(record->mountPoint, "");
    EXPECT_STREQ(record->debugFile, "/tmp/rfsv.log");
}

TEST_P(HostSettings, SettingsSurviveARestartOfTheHost) {
    const std::string options = "--addon " + GetParam() + " --settings-dir " + folder;
    auto [output, code] =
        RunVantrel(options + " config mount-root=/media/psion/ debug=on debug-file=/tmp/x.log");
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(output.find("mount-root=/media/psion\n"), std::string::npos) << output;

    // A second run shows what the first one stored.
    std::tie(output, code) = RunVantrel(options + " config");
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(output.find("debug=on\ndebug-file=/tmp/x.log\nmount-root=/media/psion\n"),
              std::string::npos)
        << output;

    // A host started afresh puts them into the add-on's record after its Initialise.
    addOn.reset();
    vantrel::HostOptions hostOptions;
    hostOptions.addOnFiles.push_back(GetParam());
    hostOptions.settingsFolder = folder;
    vantrel::HostLink host(hostOptions);
    ASSERT_EQ(host.Start(), B_OK);
    ASSERT_EQ(host.AddOns().size(), 1u);
    auto* configs = static_cast<CONFIG_VAR*>(host.AddOns()[0]->Symbol("configs"));
    ASSERT_NE(configs, nullptr);
    EXPECT_EQ(configs->debug, 1);
    EXPECT_STREQ(configs->debugFile, "/tmp/x.log");
    EXPECT_STREQ(configs->mountPoint, "/media/psion");
}

TEST_P(HostSettings, AMountRootOnTheCommandLineWinsOverTheFile) {
    record->debug = 1;
    strcpy(record->mountPoint, "/from/file");
    ASSERT_EQ(vantrel::SaveSettings(*addOn, folder), B_OK);
    addOn.reset();
    vantrel::HostOptions hostOptions;
    hostOptions.addOnFiles.push_back(GetParam());
    hostOptions.settingsFolder = folder;
    hostOptions.mountRoot = "/from/option";
    vantrel::HostLink host(hostOptions);
    ASSERT_EQ(host.Start(), B_OK);
    ASSERT_EQ(host.AddOns().size(), 1u);
    auto* configs = static_cast<CONFIG_VAR*>(host.AddOns()[0]->Symbol("configs"));
    EXPECT_EQ(configs->debug, 1);
    EXPECT_STREQ(configs->mountPoint, "/from/option");
}

INSTANTIATE_TEST_SUITE_P(AddOns, HostSettings,
                         testing::Values(std::string(SETTINGS_ADDON_DIR "/settings_test_addon.so"),
                                         std::string(TAVRO_CLIENT_ADDON_DIR "/tavro-mount.so")),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.index == 0 ? std::string("StandIn")
                                                    : std::string("MountClient");
                         });

TEST(ConfigCommand, BadSettingsAreRefusedBeforeAnythingChanges) {
    std::vector<vantrel::SettingChange> changes;
    std::string error;
    EXPECT_FALSE(vantrel::ParseSettingChanges({"colour=blue"}, changes, error));
    EXPECT_NE(error.find("colour"), std::string::npos);
    EXPECT_FALSE(vantrel::ParseSettingChanges({"debug=maybe"}, changes, error));
    EXPECT_FALSE(vantrel::ParseSettingChanges({"mount-root"}, changes, error));
    ASSERT_TRUE(vantrel::ParseSettingChanges({"debug=yes", "debug-file="}, changes, error));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1].key, "debug-file");
    EXPECT_EQ(changes[1].value, "");

    auto [output, code] = RunVantrel("--settings-dir /tmp config colour=blue");
    EXPECT_EQ(code, 2) << output;
}

TEST(ConfigCommand, TheCommandLineSeparatesOptionsFromTheCommand) {
    const char* argv[] = {"vantrel", "--settings-dir", "/s",      "--addon", "a.so",
                          "config",  "debug=on",       "--trace", "x"};
    vantrel::HostOptions options;
    std::string error;
    ASSERT_EQ(vantrel::ParseCommandLine(9, argv, options, error), vantrel::CommandLineResult::Run);
    EXPECT_EQ(options.settingsFolder, "/s");
    EXPECT_TRUE(options.configCommand);
    EXPECT_EQ(options.configArguments, (std::vector<std::string>{"debug=on", "--trace", "x"}));
    EXPECT_TRUE(options.traceFile.empty());
}

TEST(ConfigCommand, TheDefaultFolderFollowsTheUsersConfigurationHome) {
    const char* savedXdg = getenv("XDG_CONFIG_HOME");
    const char* savedHome = getenv("HOME");
    std::string xdg = savedXdg ? savedXdg : "", home = savedHome ? savedHome : "";
    setenv("XDG_CONFIG_HOME", "/x/config", 1);
    EXPECT_EQ(vantrel::DefaultSettingsFolder(), "/x/config/tavro");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(vantrel::DefaultSettingsFolder(), "/home/u/.config/tavro");
    if (savedXdg) setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    if (savedHome)
        setenv("HOME", home.c_str(), 1);
    else
        unsetenv("HOME");
}
