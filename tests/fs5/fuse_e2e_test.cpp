// The product end to end with a Series 5: vantrel's link with a simulated Series 5 whose
// drives C: and D: are host folders, tavro-mount and tavro5 as add-ons, and the FUSE bridge.
// Ordinary Linux programs work on the drives' mounts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "LinkedMountTest.h"
#include "shell.h"

namespace {

using fusetest::quote;
using fusetest::run;

class Series5EndToEnd : public LinkedMountTest {
protected:
    Series5EndToEnd() : LinkedMountTest("tavro5-e2e-") {}

    void Arrange() override {
        folder_ = linked_.folder();
        linked_.options.family = vantrel::Family::Series5;
        linked_.options.traceInMemory = true;
        linked_.AddDrive('C', "Internal", "c").capacity = 16 * 1024 * 1024;
        linked_.AddDrive('D', "Disk", "d").capacity = 16 * 1024 * 1024;
        c_ = folder_ + "/c";
        d_ = folder_ + "/d";
        auto copied =
            run("cp -r " + quote(std::string(TAVRO_SAMPLES_DIR) + "/.") + " " + quote(c_));
        ASSERT_EQ(copied.status, 0) << copied.output;
        ASSERT_EQ(linked_.Start(), "");
        internal_ = linked_.mount("Internal");
        disk_ = linked_.mount("Disk");
    }

    void TearDown() override { EXPECT_EQ(linked_.Stop(), ""); }

    fusetest::Result in(const std::string& where, const std::string& command, int seconds = 60) {
        return run("cd " + quote(where) + " && " + command, seconds);
    }

    std::string folder_, c_, d_, internal_, disk_;
};

TEST_F(Series5EndToEnd, BothDrivesListAndCopyOutUnchanged) {
    auto listed = in(internal_, "ls -l && stat -c '%s' STORY.TXT");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("README.TXT"), std::string::npos) << listed.output;
    auto out = run("cp -r " + quote(internal_) + " " + quote(folder_ + "/out") + " && diff -r " +
                   quote(TAVRO_SAMPLES_DIR) + " " + quote(folder_ + "/out"));
    EXPECT_EQ(out.status, 0) << out.output;
    auto df = run("df -k " + quote(disk_) + " | tail -1");
    EXPECT_EQ(df.status, 0) << df.output;
    EXPECT_NE(df.output.find("16384"), std::string::npos) << df.output;
}

TEST_F(Series5EndToEnd, ATreeWithLongNamesCopiedInComesBackOutEqual) {
    auto made = run("mkdir -p " + quote(folder_ + "/tree/Sub folder/Deep") + " && cd " +
                    quote(folder_ + "/tree") +
                    " && head -c 100000 /dev/urandom > 'Data file.bin' && printf hello > 'Sub "
                    "folder/Café crème.txt' && seq 1 3000 > 'Sub folder/Deep/Numbers of the "
                    "day.txt' && : > Empty.txt");
    ASSERT_EQ(made.status, 0) << made.output;
    auto copied = run("cp -r " + quote(folder_ + "/tree") + " " + quote(disk_ + "/Tree") +
                      " && cp -r " + quote(disk_ + "/Tree") + " " + quote(folder_ + "/back") +
                      " && diff -r " + quote(folder_ + "/tree") + " " + quote(folder_ + "/back") +
                      " && diff -r " + quote(folder_ + "/tree") + " " + quote(d_ + "/Tree"));
    EXPECT_EQ(copied.status, 0) << copied.output;
}

TEST_F(Series5EndToEnd, NamespaceChangesTimesAndTruncateWithCoreutils) {
    auto changed = in(
        disk_, "mkdir 'My Work' && mkdir 'My Work/Inner' && cp " + quote(internal_ + "/NOTES.TXT") +
                   " 'My Work/n1.txt' && mv 'My Work/n1.txt' 'My Work/Inner/Été.txt' && "
                   "touch -m -d '2003-04-05 06:07:08 UTC' 'My Work/Inner/Été.txt' && "
                   "stat -c %Y 'My Work/inner/été.TXT' && stat -c %Y " +
                   quote(d_ + "/My Work/Inner/Été.txt") +
                   " && truncate -s 70000 'My "
                   "Work/Inner/Été.txt' && stat -c %s 'My Work/Inner/Été.txt' && "
                   "truncate -s 3 'My Work/Inner/Été.txt' && cat 'My Work/Inner/Été.txt' && "
                   "echo && find 'My Work' | sort");
    ASSERT_EQ(changed.status, 0) << changed.output;
    auto notes = run("head -c 3 " + quote(c_ + "/NOTES.TXT"));
    // The time went through the handheld's clock (the second line: what the handheld's folder
    // holds) and came back the same.
    EXPECT_EQ(changed.output, "1049522828\n1049522828\n70000\n" + notes.output +
                                  "\nMy Work\nMy Work/Inner\nMy Work/Inner/Été.txt\n");

    auto refused = in(disk_, "rmdir 'My Work'");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Directory not empty"), std::string::npos) << refused.output;
    auto bad = in(disk_, "touch 'Ωmega.txt'");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("Invalid argument"), std::string::npos) << bad.output;
    auto removed =
        in(disk_, "rm 'My Work/Inner/Été.txt' && rmdir 'My Work/Inner' 'My Work' && ls -A");
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_EQ(removed.output, "");
}

TEST_F(Series5EndToEnd, TarRsyncAndAttributes) {
    auto tarred = fusetest::tar_copy(internal_, disk_ + "/Untarred", folder_ + "/s.tar");
    EXPECT_EQ(tarred.status, 0) << tarred.output;

    // Long names and renames work: rsync's ordinary way, with its temporary files.
    auto synced = fusetest::rsync_twice("rsync -rt", TAVRO_SAMPLES_DIR, disk_ + "/Sync");
    ASSERT_EQ(synced.status, 0) << synced.output;
    EXPECT_EQ(synced.output, "");

    auto typed = in(internal_,
                    "getfattr --only-values -n user.mime_type WRD/LETTER.WRD; echo; "
                    "getfattr --only-values -n user.mime_type . ; echo; "
                    "setfattr -n user.AUTHOR -v psion README.TXT && getfattr -d README.TXT");
    EXPECT_NE(typed.output.find("text/x-vnd.zk.psion-wrd\napplication/x-vnd.zk.psion-volume\n"),
              std::string::npos)
        << typed.output;
    EXPECT_NE(typed.output.find("user.AUTHOR=\"psion\""), std::string::npos) << typed.output;
}

}  // namespace
