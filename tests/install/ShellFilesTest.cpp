// What the package gives the shell: the bash completion of vantrel and tavro-gate, run in a
// real bash with the system's bash-completion, and the manual pages help2man makes from the
// programs' --help.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

const std::string kSource = TAVRO_SOURCE_DIR;
const std::string kBashCompletion = "/usr/share/bash-completion/bash_completion";

// Output of `bash -c script`.
std::string Bash(const std::string& script) {
    std::string quoted = "'";
    for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* out = popen(("bash -c " + quoted + " 2>/dev/null").c_str(), "r");
    if (out == nullptr) return "";
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), out)) > 0) text.append(buffer, got);
    pclose(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// What completing `line` (the cursor at its end) offers, as bash would ask `function`.
std::string Complete(const std::string& completion, const std::string& function,
                     const std::string& command, const std::string& line) {
    return Bash("source " + kBashCompletion + "\nsource " + completion + "\n" + "COMP_LINE='" +
                line +
                "'; COMP_POINT=${#COMP_LINE}\n"
                "read -ra COMP_WORDS <<<\"$COMP_LINE\"\n"
                "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n" +
                function + " '" + command +
                "' \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                "echo \"${COMPREPLY[*]}\"");
}

class Completion : public testing::Test {
protected:
    void SetUp() override {
        if (access(kBashCompletion.c_str(), R_OK) != 0) GTEST_SKIP() << "no bash-completion";
    }
};

TEST_F(Completion, TavroGateOffersItsCommandsOptionsAndArguments) {
    const std::string script = kSource + "/packaging/bash-completion/tavro-gate";
    auto gate = [&](const std::string& line) {
        return Complete(script, "_tavro_gate", "tavro-gate", line);
    };
    EXPECT_EQ(gate("tavro-gate "), "connect send disconnect channels link help");
    EXPECT_EQ(gate("tavro-gate --s"), "--socket");
    EXPECT_EQ(gate("tavro-gate di"), "disconnect");
    EXPECT_EQ(gate("tavro-gate connect S"), "SYS$RFSV");
    EXPECT_EQ(gate("tavro-gate send "), ".");
    // After the socket's path, and after a ';', a new command starts.
    EXPECT_EQ(gate("tavro-gate --socket /run/x.sock co"), "connect");
    EXPECT_EQ(gate("tavro-gate connect SYS$RFSV \\; se"), "send");
    EXPECT_EQ(gate("tavro-gate connect SYS$RFSV \\; send "), ".");
    // A command without arguments has nothing more to offer.
    EXPECT_EQ(gate("tavro-gate link "), "");
    EXPECT_EQ(Bash("source " + kBashCompletion + "; source " + script + "; complete -p tavro-gate"),
              "complete -F _tavro_gate tavro-gate");
}

TEST_F(Completion, VantrelOffersTheOptionsOfItsHelpAndTheSettingsOfConfig) {
    const std::string script = kSource + "/packaging/bash-completion/vantrel";
    const std::string vantrel = std::string(TAVRO_BIN_DIR) + "/vantrel";
    auto complete = [&](const std::string& line) {
        return Complete(script, "_vantrel", vantrel, line);
    };
    EXPECT_EQ(complete("vantrel --mount-r"), "--mount-root");
    EXPECT_EQ(complete("vantrel --series"), "--series3 --series5");
    EXPECT_EQ(complete("vantrel co"), "config");
    EXPECT_EQ(complete("vantrel config debug="), "debug=on debug=off");
}

// help2man turns the "Usage:" and "or:" lines of --help into the page's SYNOPSIS.
std::string ManPage(const std::string& name) {
    std::string page = std::string(TAVRO_MAN_DIR) + "/" + name + ".1.gz";
    if (access(page.c_str(), R_OK) != 0) return "";
    return Bash("zcat " + page);
}

TEST(ManualPage, VantrelHasASynopsisOfBothForms) {
    std::string page = ManPage("vantrel");
    if (page.empty()) GTEST_SKIP() << "no manual page built (help2man missing)";
    size_t synopsis = page.find(".SH SYNOPSIS");
    ASSERT_NE(synopsis, std::string::npos) << page.substr(0, 2000);
    size_t next = page.find(".SH", synopsis + 1);
    std::string section = page.substr(synopsis, next - synopsis);
    EXPECT_NE(section.find("vantrel\n[\\fI\\,options\\/\\fR]"), std::string::npos) << section;
    EXPECT_NE(section.find("config"), std::string::npos) << section;
    EXPECT_EQ(page.find("usage:"), std::string::npos);  // not left in the description
}

TEST(ManualPage, TavroGateHasASynopsis) {
    std::string page = ManPage("tavro-gate");
    if (page.empty()) GTEST_SKIP() << "no manual page built (help2man missing)";
    size_t synopsis = page.find(".SH SYNOPSIS");
    ASSERT_NE(synopsis, std::string::npos) << page.substr(0, 2000);
    EXPECT_NE(page.find("--socket PATH", synopsis), std::string::npos);
}

}  // namespace
