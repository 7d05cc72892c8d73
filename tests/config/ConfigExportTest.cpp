// The add-on's ConfigView export: a view of the add-on's own record, as the host gets it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "ConfigViewParts.h"

TEST(ConfigViewExport, TheAddOnMakesAViewOfItsConfiguration) {
    void* addOn = dlopen(TAVRO_CLIENT_ADDON_DIR "/tavro-mount.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(addOn, nullptr) << dlerror();
    auto initialise = reinterpret_cast<int (*)()>(dlsym(addOn, "Initialise"));
    auto configView = reinterpret_cast<BView* (*)(BRect)>(dlsym(addOn, "ConfigView"));
    ASSERT_TRUE(initialise && configView);
    // The record is the add-on's own: seen only through its views.
    EXPECT_EQ(dlsym(addOn, "configs"), nullptr);
    ASSERT_EQ(initialise(), 0);

    BView* view = configView(BRect(0, 0, 299, 199));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Frame(), BRect(0, 0, 299, 199));
    Parts parts(view);
    ASSERT_TRUE(parts.Complete());
    EXPECT_STREQ(parts.mountPoint->Text(), "/mnt/psion");
    parts.mountPoint->SetText("/media/psion/");
    delete view;
    // The record took the new root: the next view shows it.
    view = configView(BRect(0, 0, 299, 199));
    Parts again(view);
    ASSERT_TRUE(again.Complete());
    EXPECT_STREQ(again.mountPoint->Text(), "/media/psion");
    delete view;
    dlclose(addOn);
}
