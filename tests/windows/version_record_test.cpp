// The library's version record is its version resource: read from the file without loading it.
#include "registration/VersionRecord.h"

#include <gtest/gtest.h>

namespace crv {
namespace {

TEST(WindowsVersionRecord, TheLibrarySaysItsVersionAndThatItRegistersItself) {
    const auto record = ReadVersionRecord(CRV_WIN_LIBRARY);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->major, 1);
    EXPECT_EQ(record->minor, 0);
    EXPECT_EQ(record->flags & kVersionSelfRegister, kVersionSelfRegister);
    EXPECT_STREQ(record->name, "CRVAnchor");
}

TEST(WindowsVersionRecord, AFileWithoutOneHasNone) {
    EXPECT_FALSE(ReadVersionRecord(CRV_SOURCE_DIR "/README.md").has_value());
    EXPECT_FALSE(ReadVersionRecord(CRV_SOURCE_DIR "/no such file.dll").has_value());
}

}  // namespace
}  // namespace crv
