// A volume mounted from a scripted device, with the fake kernel behind it.
#pragma once

#include <gtest/gtest.h>

#include "FakeKernel.h"
#include "ScriptedDevice.h"
#include "Series3Bytes.h"
#include "tavro.h"
#include "tavro_rfsv.h"

constexpr nspace_id kTestNsid = 42;

class WireTest : public ::testing::Test {
protected:
    void SetUp() override { Mount(false); }
    void TearDown() override {
        EXPECT_TRUE(device->Failures().empty()) << device->Failures().front();
        Unmount();
    }

    void Mount(bool evict_at_once, const char* debugFile = "") {
        device = std::make_unique<ScriptedDevice>();
        fake_kernel::Reset(kTestNsid, evict_at_once);
        auto block = device->MountBlock("M:", debugFile);
        void* ns = nullptr;
        ASSERT_EQ(fs_mount(kTestNsid, nullptr, 0, block.data(), block.size(), &ns, &rootId), B_OK);
        vol = static_cast<volume*>(ns);
        fake_kernel::SetVolume(vol);
        // Short waits keep the time-out tests quick.
        vol->sizeTimeout = 200000;
        vol->replyTimeout = 200000;
        root = node_of(rootId);
        fake_kernel::ClearNotices();
    }

    void Unmount() {
        if (vol == nullptr) return;
        fake_kernel::ReleaseAll();
        EXPECT_EQ(fs_unmount(vol), B_OK);
        vol = nullptr;
        device.reset();
    }

    // Looks a name up through walk, as the kernel does; the node comes back referenced.
    vnode* Walk(vnode* dir, const char* name, status_t expect = B_OK) {
        vnode_id id = 0;
        EXPECT_EQ(fs_walk(vol, dir, name, nullptr, &id), expect) << name;
        return expect == B_OK ? node_of(id) : nullptr;
    }
    void Put(vnode* node) { EXPECT_EQ(put_vnode(kTestNsid, node->vnid), B_OK); }

    void ExpectFinfo(const std::string& path, const Bytes& entry) {
        device->Expect(Packet(FINFO, PathBytes(path)), Reply(0, entry));
    }

    std::unique_ptr<ScriptedDevice> device;
    volume* vol = nullptr;
    vnode_id rootId = 0;
    vnode* root = nullptr;
};
