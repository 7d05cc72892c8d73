#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

namespace {

// The platform's values, which programs built for it compare against.
static_assert(static_cast<uint32>(B_NO_MEMORY) == 0x80000000u);
static_assert(static_cast<uint32>(B_IO_ERROR) == 0x80000001u);
static_assert(static_cast<uint32>(B_BAD_VALUE) == 0x80000005u);
static_assert(static_cast<uint32>(B_NOT_ALLOWED) == 0x8000000Fu);
static_assert(static_cast<uint32>(B_BAD_SEM_ID) == 0x80001000u);
static_assert(static_cast<uint32>(B_BAD_PORT_ID) == 0x80001200u);
static_assert(static_cast<uint32>(B_FILE_ERROR) == 0x80006000u);
static_assert(static_cast<uint32>(B_FILE_EXISTS) == 0x80006002u);
static_assert(static_cast<uint32>(B_ENTRY_NOT_FOUND) == 0x80006003u);
static_assert(static_cast<uint32>(B_NAME_TOO_LONG) == 0x80006004u);
static_assert(static_cast<uint32>(B_NOT_A_DIRECTORY) == 0x80006005u);
static_assert(static_cast<uint32>(B_READ_ONLY_DEVICE) == 0x80006008u);
static_assert(static_cast<uint32>(B_IS_A_DIRECTORY) == 0x80006009u);
static_assert(B_TIMED_OUT < 0);

TEST(Errors, EveryCodeHasItsOwnText) {
    const status_t codes[] = {B_OK,
                              B_ERROR,
                              B_NO_MEMORY,
                              B_IO_ERROR,
                              B_PERMISSION_DENIED,
                              B_BAD_INDEX,
                              B_BAD_TYPE,
                              B_BAD_VALUE,
                              B_MISMATCHED_VALUES,
                              B_NAME_NOT_FOUND,
                              B_NAME_IN_USE,
                              B_TIMED_OUT,
                              B_INTERRUPTED,
                              B_WOULD_BLOCK,
                              B_CANCELED,
                              B_NO_INIT,
                              B_BUSY,
                              B_NOT_ALLOWED,
                              B_BAD_DATA,
                              B_BAD_SEM_ID,
                              B_NO_MORE_SEMS,
                              B_BAD_THREAD_ID,
                              B_NO_MORE_THREADS,
                              B_BAD_THREAD_STATE,
                              B_BAD_PORT_ID,
                              B_NO_MORE_PORTS,
                              B_BAD_IMAGE_ID,
                              B_NOT_AN_EXECUTABLE,
                              B_BAD_REPLY,
                              B_DUPLICATE_REPLY,
                              B_MESSAGE_TO_SELF,
                              B_BAD_HANDLER,
                              B_ALREADY_RUNNING,
                              B_FILE_ERROR,
                              B_FILE_EXISTS,
                              B_ENTRY_NOT_FOUND,
                              B_NAME_TOO_LONG,
                              B_NOT_A_DIRECTORY,
                              B_DIRECTORY_NOT_EMPTY,
                              B_DEVICE_FULL,
                              B_READ_ONLY_DEVICE,
                              B_IS_A_DIRECTORY,
                              B_NO_MORE_FDS,
                              B_CROSS_DEVICE_LINK,
                              B_LINK_LIMIT,
                              B_BUSTED_PIPE,
                              B_UNSUPPORTED};
    std::set<std::string> texts;
    for (status_t code : codes) {
        const char* text = be_strerror(code);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text).find("Unknown"), std::string::npos) << std::hex << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes)) << "two codes share a text";
    EXPECT_STREQ(be_strerror(B_BAD_PORT_ID), "Bad port ID");
    EXPECT_STREQ(be_strerror(B_TIMED_OUT), "Operation timed out");
}

TEST(Errors, PositiveValuesAreCLibraryErrors) {
    EXPECT_STREQ(be_strerror(ENOENT), std::strerror(ENOENT));
    EXPECT_STREQ(be_strerror(EACCES), std::strerror(EACCES));
}

TEST(Errors, UnknownCodesGetAGenericTextWithTheValue) {
    EXPECT_STREQ(be_strerror(B_GENERAL_ERROR_BASE + 0x777), "Unknown error (0x80000777)");
    EXPECT_STREQ(be_strerror(-2), "Unknown error (0xfffffffe)");
}

}  // namespace
