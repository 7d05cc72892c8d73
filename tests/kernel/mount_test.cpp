// Mounting and unmounting: busy volumes, failures, and the mount observer.
#include <vector>

#include "KernelTest.h"

using kerneltest::ExpectBalanced;
using kerneltest::MemVolume;

TEST(Mount, UnmountIsRefusedWhileNodesAreReferencedOrDescriptorsOpen) {
    kernel_set_unused_vnode_limit(10);
    MemVolume vol("/mnt/busy");
    vol.MakeFile("f", "x");

    vnode_id f = 0;
    ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), "f", &f));
    EXPECT_EQ(B_BUSY, vol.Unmount()) << "a referenced node";
    ASSERT_EQ(B_OK, vfs_put(vol.nsid(), f));

    int dir = sys_opendir(vol.Path("").c_str());
    ASSERT_GE(dir, 0);
    EXPECT_EQ(B_BUSY, vol.Unmount()) << "a listing open on the root";
    ASSERT_EQ(B_OK, sys_closedir(dir));

    int fd = sys_open(vol.Path("f").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(B_BUSY, vol.Unmount()) << "an open file";
    ASSERT_EQ(B_OK, sys_close(fd));

    // A refused unmount changed nothing.
    be_stat st{};
    ASSERT_EQ(B_OK, sys_stat(vol.Path("f").c_str(), &st));
    EXPECT_EQ(1, st.st_size);

    ASSERT_EQ(B_OK, vol.Unmount());
    EXPECT_TRUE(vol.Report().unmounted);
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat(vol.Path("f").c_str(), &st));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, kernel_volume_at(vol.Path("").c_str(), nullptr, nullptr));
    ExpectBalanced(vol.Report());
}

TEST(Mount, FailuresAreReportedAndLeaveNothingBehind) {
    kerneltest::RegisterMemfs();
    memfs::MountParams params;
    params.mountStatus = B_DEVICE_FULL;
    EXPECT_EQ(B_DEVICE_FULL, mount("memfs", "/mnt/fail", nullptr, 0, &params, sizeof(params)));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, kernel_volume_at("/mnt/fail", nullptr, nullptr));

    EXPECT_EQ(B_BAD_VALUE, mount("memfs", "relative/path", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_BAD_VALUE, mount("memfs", "/mnt/../x", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_BAD_VALUE, mount("memfs", "/mnt/x", nullptr, 0, nullptr, -1));
    EXPECT_EQ(B_BAD_VALUE, unmount("/mnt/never-mounted"));

    MemVolume vol("/mnt/twice");
    EXPECT_EQ(B_BUSY, mount("memfs", "/mnt//twice/", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_OK, kernel_volume_at("/mnt/twice/", nullptr, nullptr));
}

TEST(Mount, RootNotPublishedByTheAddOnIsReadIn) {
    kerneltest::RegisterMemfs();
    memfs::MountParams params;
    params.publishRoot = false;
    ASSERT_EQ(B_OK, mount("memfs", "/mnt/lazy", nullptr, 0, &params, sizeof(params)));
    nspace_id nsid = 0;
    vnode_id root = 0;
    ASSERT_EQ(B_OK, kernel_volume_at("/mnt/lazy", &nsid, &root));
    EXPECT_EQ(1, kernel_vnode_refcount(nsid, root));
    EXPECT_EQ(1, memfs::ReportOf(nsid).nodes[root].loads);
    ASSERT_EQ(B_OK, unmount("/mnt/lazy"));
    ExpectBalanced(memfs::ReportOf(nsid));
}

TEST(Mount, AVolumeIsFoundAtItsPointOnlyOnceItsMountHasFinished) {
    kerneltest::RegisterMemfs();
    status_t during = B_OK;
    memfs::MountParams params;
    params.probeWhere = "/mnt/probe";
    params.probeStatus = &during;
    ASSERT_EQ(B_OK, mount("memfs", "/mnt/probe", nullptr, 0, &params, sizeof(params)));
    EXPECT_EQ(B_BUSY, during);
    EXPECT_EQ(B_OK, kernel_volume_at("/mnt/probe", nullptr, nullptr));
    ASSERT_EQ(B_OK, unmount("/mnt/probe"));
}

TEST(Mount, UnmountSlotStatusIsPassedOn) {
    MemVolume vol("/mnt/unmount-status");
    memfs::InjectFailure(vol.nsid(), "unmount", B_IO_ERROR);
    EXPECT_EQ(B_IO_ERROR, vol.Unmount());
    memfs::InjectFailure(vol.nsid(), "unmount", B_OK);
    // The volume is gone all the same: the add-on freed its record.
    EXPECT_EQ(B_ENTRY_NOT_FOUND, kernel_volume_at("/mnt/unmount-status", nullptr, nullptr));
}

namespace {

struct ObserverLog {
    std::vector<std::string> calls;
    status_t answer = B_OK;
    status_t mountAnswer = B_OK;
    nspace_id lastNsid = -1;
    vnode_id lastRoot = -1;
};

status_t Mounted(void* context, nspace_id nsid, vnode_id root, const char* where) {
    auto* log = static_cast<ObserverLog*>(context);
    log->calls.push_back(std::string("mounted ") + where);
    log->lastNsid = nsid;
    log->lastRoot = root;
    return log->mountAnswer;
}

status_t Unmounting(void* context, nspace_id, const char* where) {
    auto* log = static_cast<ObserverLog*>(context);
    log->calls.push_back(std::string("unmounting ") + where);
    return log->answer;
}

}  // namespace

TEST(Mount, ObserverHearsMountsAndMayRefuseUnmount) {
    ObserverLog log;
    kernel_mount_observer observer{Mounted, Unmounting, &log};
    kernel_set_mount_observer(&observer);
    {
        MemVolume vol("/obs/vol");
        EXPECT_EQ(vol.nsid(), log.lastNsid);
        EXPECT_EQ(vol.root(), log.lastRoot);

        log.answer = B_BUSY;
        EXPECT_EQ(B_BUSY, vol.Unmount());
        EXPECT_EQ(B_OK, kernel_volume_at("/obs/vol", nullptr, nullptr));

        // The observer agrees, but the kernel still finds the volume busy: the observer is
        // told the volume is still there.
        log.answer = B_OK;
        vnode_id root = 0;
        ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), ".", &root));
        EXPECT_EQ(B_BUSY, vol.Unmount());
        ASSERT_EQ(B_OK, vfs_put(vol.nsid(), root));
        EXPECT_EQ(B_OK, vol.Unmount());
    }
    kernel_set_mount_observer(nullptr);
    std::vector<std::string> expected = {
        "mounted /obs/vol", "unmounting /obs/vol", "unmounting /obs/vol",
        "mounted /obs/vol", "unmounting /obs/vol",
    };
    EXPECT_EQ(expected, log.calls);
}

TEST(Mount, AVolumeTheObserverCannotExportIsNotReportedAsMounted) {
    kerneltest::RegisterMemfs();
    ObserverLog log;
    log.mountAnswer = B_PERMISSION_DENIED;
    kernel_mount_observer observer{Mounted, Unmounting, &log};
    kernel_set_mount_observer(&observer);
    memfs::MountParams params;
    EXPECT_EQ(B_PERMISSION_DENIED,
              mount("memfs", "/obs/refused", nullptr, 0, &params, sizeof(params)));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, kernel_volume_at("/obs/refused", nullptr, nullptr));
    nspace_id refused = log.lastNsid;
    // The place is free again, and the add-on's volume was unmounted, not leaked.
    log.mountAnswer = B_OK;
    EXPECT_EQ(B_OK, mount("memfs", "/obs/refused", nullptr, 0, &params, sizeof(params)));
    EXPECT_TRUE(memfs::ReportOf(refused).unmounted);
    EXPECT_EQ(B_OK, unmount("/obs/refused"));
    kernel_set_mount_observer(nullptr);
}
