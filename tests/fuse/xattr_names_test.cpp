#include <gtest/gtest.h>

#include "XattrNames.h"

namespace fusebridge {
namespace {

TEST(XattrNames, UserNamesNameTheVolumesAttributes) {
    AttributeName plain = attribute_for_xattr("user.comment");
    EXPECT_TRUE(plain.valid);
    EXPECT_FALSE(plain.mime);
    EXPECT_EQ(plain.name, "comment");

    AttributeName raw_type = attribute_for_xattr("user.BEOS:TYPE");
    EXPECT_TRUE(raw_type.valid);
    EXPECT_FALSE(raw_type.mime);
    EXPECT_EQ(raw_type.name, "BEOS:TYPE");

    AttributeName mime = attribute_for_xattr("user.mime_type");
    EXPECT_TRUE(mime.valid);
    EXPECT_TRUE(mime.mime);
    EXPECT_EQ(mime.name, "BEOS:TYPE");
}

TEST(XattrNames, OtherNamespacesAndEmptyNamesAreNotAttributes) {
    EXPECT_FALSE(attribute_for_xattr("security.selinux").valid);
    EXPECT_FALSE(attribute_for_xattr("system.posix_acl_access").valid);
    EXPECT_FALSE(attribute_for_xattr("trusted.x").valid);
    EXPECT_FALSE(attribute_for_xattr("user.").valid);
    EXPECT_FALSE(attribute_for_xattr("user").valid);
}

TEST(XattrNames, ListShowsEveryAttributeAndTheTypeOnceMore) {
    using namespace std::string_literals;
    EXPECT_EQ(xattr_list({"BEOS:TYPE", "note"}), "user.BEOS:TYPE\0user.note\0user.mime_type\0"s);
    EXPECT_EQ(xattr_list({"note"}), "user.note\0"s);
    EXPECT_EQ(xattr_list({}), ""s);
    // A node's own "mime_type" attribute is shadowed by the type, and not listed twice.
    EXPECT_EQ(xattr_list({"mime_type", "BEOS:TYPE"}), "user.BEOS:TYPE\0user.mime_type\0"s);
}

TEST(XattrNames, MimeValuesCarryTheirNulOnTheVolumeOnly) {
    using namespace std::string_literals;
    EXPECT_EQ(mime_attribute_value("text/x-vnd.zk.psion-wrd"), "text/x-vnd.zk.psion-wrd\0"s);
    EXPECT_EQ(mime_attribute_value("text/plain\0junk"s), "text/plain\0"s);
    EXPECT_EQ(mime_from_attribute_value("text/x-vnd.zk.psion-txt\0"s), "text/x-vnd.zk.psion-txt");
    EXPECT_EQ(mime_from_attribute_value("no-nul"), "no-nul");
}

}  // namespace
}  // namespace fusebridge
