#include "cabclient/stored_name.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fdi/fdi.h"

using cabclient::NameError;

namespace {

struct NameCase {
    const char* stored;
    uint16_t attribs;
    NameError error;
    const char* joined;  // components joined with '/'
};

TEST(StoredName, SplitsConvertsAndRefuses) {
    const NameCase cases[] = {
        {"file.txt", 0x20, NameError::None, "file.txt"},
        {"pkg\\sub\\file.txt", 0x20, NameError::None, "pkg/sub/file.txt"},
        {"pkg/sub\\file.txt", 0x20, NameError::None, "pkg/sub/file.txt"},
        {"a\\\\b\\.\\c", 0x20, NameError::None, "a/b/c"},
        {"...\\x", 0x20, NameError::None, ".../x"},
        // Code page 936: "补丁\中文.txt"; 0x81 0x5C is one character, not a separator.
        {"\xB2\xB9\xB6\xA1\\\xD6\xD0\xCE\xC4.txt", 0x20, NameError::None, "补丁/中文.txt"},
        {"\x81\x5C.dat", 0x20, NameError::None, "乗.dat"},
        {"dir\\\x81\x5C\\f", 0x20, NameError::None, "dir/乗/f"},
        // With 0x80 the bytes are UTF-8 already.
        {"补丁\\中文.txt", 0xA0, NameError::None, "补丁/中文.txt"},
        {"\xC3\x28", 0xA0, NameError::Unconvertible, ""},
        {"\xE8\xA1", 0xA0, NameError::Unconvertible, ""},
        {"\xC0\xAF", 0xA0, NameError::Unconvertible, ""},  // overlong '/'
        {"\xFF\xFF", 0x20, NameError::Unconvertible, ""},
        {"\xB2", 0x20, NameError::Unconvertible, ""},  // lead byte without its second
        // Everything that could leave the destination.
        {"..\\..\\evil.txt", 0x20, NameError::ParentReference, ""},
        {"a/../../b", 0x20, NameError::ParentReference, ""},
        {"a\\..\\b", 0x20, NameError::ParentReference, ""},
        {"pkg\\..", 0x20, NameError::ParentReference, ""},
        {"\\abs.txt", 0x20, NameError::Absolute, ""},
        {"/etc/passwd", 0x20, NameError::Absolute, ""},
        {"\\\\server\\share\\x", 0x20, NameError::Absolute, ""},
        {"C:\\x.txt", 0x20, NameError::DriveLetter, ""},
        {"C:x.txt", 0x20, NameError::DriveLetter, ""},
        {"file.txt:stream", 0x20, NameError::DriveLetter, ""},
        {"", 0x20, NameError::Empty, ""},
        {"dir\\", 0x20, NameError::Empty, ""},
        {".", 0x20, NameError::Empty, ""},
        {"a\\.", 0x20, NameError::Empty, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        std::vector<std::string> components;
        EXPECT_EQ(cabclient::ParseStoredName(c.stored, c.attribs, components), c.error);
        if (c.error == NameError::None) {
            EXPECT_EQ(cabclient::JoinComponents(components), c.joined);
        }
    }
}

TEST(StoredName, NextCabinetNameIsConvertedInPlaceAndMustBePlain) {
    char buffer[FDI_NAME_BUFFER];
    std::strcpy(buffer, "\xB2\xB9\xB6\xA1" "2.cab");
    ASSERT_TRUE(cabclient::PrepareNextCabinetName(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "补丁2.cab");

    for (const char* bad : {"", "..", "..\\x.cab", "sub/x.cab", "C:x.cab", "\xFF\xFF.cab"}) {
        SCOPED_TRACE(bad);
        std::strcpy(buffer, bad);
        EXPECT_FALSE(cabclient::PrepareNextCabinetName(buffer, sizeof buffer));
        EXPECT_STREQ(buffer, bad);
    }
    // 200 Chinese characters are 400 bytes in 936 but 600 in UTF-8: too long.
    std::string wide;
    for (int i = 0; i < 120; ++i) wide += "\xD6\xD0";
    std::strcpy(buffer, wide.c_str());
    EXPECT_FALSE(cabclient::PrepareNextCabinetName(buffer, sizeof buffer));
}

}  // namespace
