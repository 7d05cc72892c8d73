// A test on the Linux mounts of a simulated handheld's drives (LinkedMount): skipped where FUSE
// is missing. SetUp makes the temporary folder, then Arrange adds the test's drives and files
// and starts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "LinkedMount.h"

class LinkedMountTest : public testing::Test {
protected:
    explicit LinkedMountTest(const char* prefix) : prefix_(prefix) {}

    void SetUp() override {
        std::string why = linked_.Prepare(prefix_);
        if (linktest::Skipped(why)) GTEST_SKIP() << why;
        ASSERT_EQ(why, "");
        Arrange();
    }
    virtual void Arrange() {}

    linktest::LinkedMount linked_;

private:
    const char* prefix_;
};
