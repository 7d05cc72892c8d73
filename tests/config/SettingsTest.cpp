// The host keeps the mount client's settings between runs: the settings file, the `config`
// command that changes them through the add-on's own view, and a restarted host finding them.
// Each test runs against the stand-in add-on and, once it is built, the real mount client.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command; its standard output and error, and exit code.
std::pair<std::string, int> RunCommand(const std::string& shellCommand) {
    std::string command = shellCommand + " 2>&1";
    FILE* pipe = popen(("bash -c " + ShellQuote(command)).c_str(), "r");
    if (pipe == nullptr) return {"", -1};
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Runs vantrel with the arguments (as bash reads them, prefixed by `asUser`).
std::pair<std::string, int> RunVantrel(const std::string& arguments,
                                       const std::string& asUser = "") {
    return RunCommand(asUser + std::string(TAVRO_BIN_DIR) + "/vantrel " + arguments);
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
        ASSERT_TRUE(vantrel::HasSettings(*addOn));
    }
    void TearDown() override {
        addOn.reset();
        if (!folder.empty()) std::filesystem::remove_all(folder + "/../..");
    }

    std::string File() const { return vantrel::SettingsFile(folder, *addOn); }
    std::string Options() const { return "--addon " + GetParam() + " --settings-dir " + folder; }

    std::string folder;
    std::unique_ptr<vantrel::AddOn> addOn;

    // The add-on's settings as the host reaches them: through its settings view.
    static vantrel::ClientSettings Shown(const vantrel::AddOn& of) {
        vantrel::ClientSettings settings;
        std::string error;
        EXPECT_EQ(vantrel::ReadThroughConfigView(of, settings, error), B_OK) << error;
        return settings;
    }
    vantrel::ClientSettings Shown() const { return Shown(*addOn); }
    // The settings a host started afresh on the settings folder (with `mountRoot` on its command
    // line) gives the add-on, after the test's own copy of the add-on was unloaded.
    void ShownByAFreshHost(vantrel::ClientSettings* shown, const std::string& mountRoot = "") {
        addOn.reset();
        vantrel::HostOptions hostOptions;
        hostOptions.addOnFiles.push_back(GetParam());
        hostOptions.settingsFolder = folder;
        hostOptions.mountRoot = mountRoot;
        vantrel::HostLink host(hostOptions);
        ASSERT_EQ(host.Start(), B_OK);
        ASSERT_EQ(host.AddOns().size(), 1u);
        *shown = Shown(*host.AddOns()[0]);
    }
    void Set(const std::vector<vantrel::SettingChange>& changes) {
        std::string error;
        ASSERT_EQ(vantrel::ApplyThroughConfigView(*addOn, changes, error), B_OK) << error;
    }
};

}  // namespace

TEST_P(HostSettings, TheFileKeepsTheRecord) {
    EXPECT_EQ(vantrel::LoadSettings(*addOn, folder), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(Shown().mountRoot, "/mnt/psion");

    // Awkward but legal paths survive the trip.
    Set({{"debug", "on"}, {"debug-file", "/tmp/a\\b\nc.log"}, {"mount-root", "/media/my psion"}});
    ASSERT_EQ(vantrel::SaveSettings(*addOn, folder), B_OK);
    EXPECT_EQ(ReadText(File()), "# Settings of the " + addOn->Name() +
                                    " add-on, kept by vantrel.\n"
                                    "debug=on\n"
                                    "debug-file=/tmp/a\\\\b\\nc.log\n"
                                    "mount-root=/media/my psion\n");
    EXPECT_FALSE(std::filesystem::exists(File() + ".new"));

    ASSERT_EQ(addOn->Initialise(), 0);
    ASSERT_EQ(vantrel::LoadSettings(*addOn, folder), B_OK);
    EXPECT_TRUE(Shown().debug);
    EXPECT_EQ(Shown().debugFile, "/tmp/a\\b\nc.log");
    EXPECT_EQ(Shown().mountRoot, "/media/my psion");
}

TEST_P(HostSettings, AHandEditedFileIsReadWithCare) {
    std::filesystem::create_directories(folder);
    std::ofstream(File()) << "# comment\n\nnonsense\ncolour=blue\ndebug=off\n"
                          << "mount-root=/" << std::string(400, 'r') << "\n"
                          << "debug=banana\n"
                          << "mount-root=/\n"
                          << "debug-file=/tmp/dos.log\r\n"
                          << std::string("debug=o\0n\n", 10) << "mount-root=\n";
    Set({{"debug", "on"}});
    std::vector<std::string> warnings;
    ASSERT_EQ(vantrel::LoadSettings(*addOn, folder, &warnings), B_OK);
    EXPECT_FALSE(Shown().debug);
    // Values that do not fit or cannot work are not cut to another path: they are skipped.
    EXPECT_EQ(Shown().mountRoot, "/mnt/psion");
    // A DOS line end is read without its "\r".
    EXPECT_EQ(Shown().debugFile, "/tmp/dos.log");
    // Every line skipped or mended is named.
    std::vector<std::string> expected = {"line 3: ",
                                         "line 4: unknown setting colour",
                                         "line 6: the mount root is longer than 255",
                                         "line 7: debug is on or off, not banana",
                                         "line 8: the mount root cannot be \"/\"",
                                         "line 9: ends in a carriage return",
                                         "line 10: holds a NUL byte",
                                         "line 11: the mount root is empty"};
    ASSERT_EQ(warnings.size(), expected.size()) << testing::PrintToString(warnings);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(warnings[i].rfind(expected[i], 0), 0u) << warnings[i];
}

TEST_P(HostSettings, SettingsThatCannotBeReadAreNeitherTakenNorOverwritten) {
    // A folder where the file belongs.
    std::filesystem::create_directories(File());
    auto [output, code] = RunVantrel(Options() + " config debug=on");
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find("cannot read"), std::string::npos) << output;
    EXPECT_NE(output.find("nothing changed"), std::string::npos) << output;
    EXPECT_EQ(output.find("debug=on"), std::string::npos) << output;
    EXPECT_TRUE(std::filesystem::is_directory(File()));
    std::filesystem::remove(File());

    // A file its user may not read (root reads everything: the command runs as nobody).
    std::ofstream(File()) << "debug=on\nmount-root=/media/kept\n";
    chmod(File().c_str(), 0);
    std::string asUser;
    if (geteuid() == 0) {
        if (system("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv";
        std::filesystem::path top = std::filesystem::path(folder).parent_path().parent_path();
        ASSERT_EQ(system(("chown -R 65534:65534 '" + top.string() + "'").c_str()), 0);
        // The add-on must be readable for that user too (it lies in the build tree).
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    std::tie(output, code) = RunVantrel(Options() + " config debug=off", asUser);
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find("cannot read"), std::string::npos) << output;
    chmod(File().c_str(), 0600);
    EXPECT_EQ(ReadText(File()), "debug=on\nmount-root=/media/kept\n");
}

TEST_P(HostSettings, ValuesThatDoNotFitOrCannotWorkAreRefused) {
    ASSERT_EQ(RunVantrel(Options() + " config mount-root=/media/kept").second, 0);
    const std::string kept = ReadText(File());
    for (std::string setting :
         {"mount-root=/" + std::string(255, 'r'), "debug-file=/" + std::string(255, 'f'),
          std::string("mount-root=/"), std::string("mount-root="), std::string("mount-root=psion"),
          std::string("debug-file=rfsv.log")}) {
        auto [output, code] = RunVantrel(Options() + " config '" + setting + "'");
        EXPECT_EQ(code, 2) << setting << "\n" << output;
        EXPECT_NE(output.find("vantrel config: the "), std::string::npos) << output;
    }
    EXPECT_EQ(ReadText(File()), kept);
    // The longest that fits is taken whole.
    std::string fits = "/" + std::string(254, 'r');
    auto [output, code] = RunVantrel(Options() + " config mount-root=" + fits);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(ReadText(File()).find("mount-root=" + fits + "\n"), std::string::npos);
}

TEST_P(HostSettings, AFailedWriteIsNotShownAsApplied) {
    ASSERT_EQ(RunVantrel(Options() + " config debug=off").second, 0);
    std::string command;
    if (geteuid() == 0) {
        // Root writes anywhere it may: a read-only bind mount, in a namespace of its own.
        if (system("unshare -m --propagation private true 2>/dev/null") != 0)
            GTEST_SKIP() << "no private mount namespace";
        command = "unshare -m --propagation private sh -c \"mount --bind '" + folder + "' '" +
                  folder + "' && mount -o remount,ro,bind '" + folder + "' && " +
                  std::string(TAVRO_BIN_DIR) + "/vantrel " + Options() + " config debug=on\"";
    } else {
        chmod(folder.c_str(), 0500);
        command = std::string(TAVRO_BIN_DIR) + "/vantrel " + Options() + " config debug=on";
    }
    auto [output, code] = RunCommand(command);
    chmod(folder.c_str(), 0700);
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find("cannot write"), std::string::npos) << output;
    EXPECT_EQ(output.find("debug=on"), std::string::npos) << output;
    EXPECT_NE(ReadText(File()).find("debug=off"), std::string::npos);
}

TEST_P(HostSettings, ControlCharactersAreNeverEchoedRaw) {
    auto [output, code] = RunVantrel(Options() + " config $'debug-file=/tmp/a\\033[2Jb\\x07.log'");
    EXPECT_EQ(code, 0) << output;
    EXPECT_EQ(output.find('\033'), std::string::npos) << output;
    EXPECT_EQ(output.find('\007'), std::string::npos) << output;
    EXPECT_NE(output.find("debug-file=/tmp/a\\x1b[2Jb\\x07.log"), std::string::npos) << output;
    // Read back as it was given.
    ASSERT_EQ(vantrel::LoadSettings(*addOn, folder), B_OK);
    EXPECT_EQ(Shown().debugFile, "/tmp/a\033[2Jb\007.log");
    std::tie(output, code) = RunVantrel(Options() + " config $'col\\033our=1'");
    EXPECT_EQ(code, 2) << output;
    EXPECT_EQ(output.find('\033'), std::string::npos) << output;
}

// "--settings-dir conf" is the folder conf where vantrel starts, for `config` and for a link.
TEST_P(HostSettings, ARelativeSettingsFolderMeansTheSameInEveryCommand) {
    std::string top = std::filesystem::path(folder).parent_path().parent_path();
    std::string in = "cd '" + top + "' && ";
    auto [output, code] =
        RunCommand(in + TAVRO_BIN_DIR "/vantrel --addon " + GetParam() +
                   " --settings-dir conf config debug=on debug-file=/tmp/relative.log");
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(ReadText(top + "/conf/" + addOn->Name() + ".conf").find("debug=on"),
              std::string::npos);
    std::tie(output, code) = RunCommand(in + TAVRO_BIN_DIR "/vantrel --addon " + GetParam() +
                                        " --settings-dir conf config");
    EXPECT_NE(output.find("debug-file=/tmp/relative.log"), std::string::npos) << output;
    EXPECT_NE(output.find(top + "/conf/"), std::string::npos) << output;
}

// Thirty `config` runs at once: none fails for another's temporary file, and the file is
// whole afterwards, with the value of one of them.
TEST_P(HostSettings, ConcurrentConfigRunsEachWriteWhole) {
    std::string script = "fails=0; for i in $(seq 1 30); do " + std::string(TAVRO_BIN_DIR) +
                         "/vantrel " + Options() +
                         " config debug-file=/tmp/run$i.log >/dev/null 2>&1 & done; "
                         "for job in $(jobs -p); do wait $job || fails=$((fails+1)); done; "
                         "echo fails=$fails";
    auto [output, code] = RunCommand(script);
    EXPECT_NE(output.find("fails=0"), std::string::npos) << output;
    std::string text = ReadText(File());
    EXPECT_NE(text.find("debug-file=/tmp/run"), std::string::npos) << text;
    EXPECT_NE(text.find("mount-root=/mnt/psion\n"), std::string::npos) << text;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string(), addOn->Name() + ".conf") << "left behind";
}

TEST_P(HostSettings, TheCommandWorksTheViewAsAUserWould) {
    std::vector<vantrel::SettingChange> changes;
    std::string error;
    ASSERT_TRUE(vantrel::ParseSettingChanges(
        {"mount-root=/media/psion/", "debug-file=/tmp/rfsv.log", "debug=on"}, changes, error));
    ASSERT_EQ(vantrel::ApplyThroughConfigView(*addOn, changes, error), B_OK) << error;
    // The view's rules apply: one trailing "/" goes, the switch is set at once.
    EXPECT_TRUE(Shown().debug);
    EXPECT_EQ(Shown().mountRoot, "/media/psion");
    EXPECT_EQ(Shown().debugFile, "/tmp/rfsv.log");

    // The command refuses "/" before the view sees it; the view itself keeps its rule.
    EXPECT_FALSE(vantrel::ParseSettingChanges({"debug=off", "mount-root=/"}, changes, error));
    changes = {{"debug", "off"}, {"mount-root", "/"}};
    ASSERT_EQ(vantrel::ApplyThroughConfigView(*addOn, changes, error), B_OK) << error;
    EXPECT_FALSE(Shown().debug);
    EXPECT_EQ(Shown().mountRoot, "");
    EXPECT_EQ(Shown().debugFile, "/tmp/rfsv.log");
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
    vantrel::ClientSettings shown;
    ASSERT_NO_FATAL_FAILURE(ShownByAFreshHost(&shown));
    EXPECT_TRUE(shown.debug);
    EXPECT_EQ(shown.debugFile, "/tmp/x.log");
    EXPECT_EQ(shown.mountRoot, "/media/psion");
}

TEST_P(HostSettings, AMountRootOnTheCommandLineWinsOverTheFile) {
    Set({{"debug", "on"}, {"mount-root", "/from/file"}});
    ASSERT_EQ(vantrel::SaveSettings(*addOn, folder), B_OK);
    vantrel::ClientSettings shown;
    ASSERT_NO_FATAL_FAILURE(ShownByAFreshHost(&shown, "/from/option"));
    EXPECT_TRUE(shown.debug);
    EXPECT_EQ(shown.mountRoot, "/from/option");
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
