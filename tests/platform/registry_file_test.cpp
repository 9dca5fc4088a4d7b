#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace ketrion {
namespace {

std::string Value(const Registry& registry, const std::string& path, const std::string& name) {
    Registry::Key key = 0;
    std::string text;
    if (!registry.OpenKey(Registry::kLocalMachine, path, key) ||
        !registry.QueryValue(key, name, text)) {
        return "<missing>";
    }
    return text;
}

std::vector<std::string> Subkeys(const Registry& registry, const std::string& path) {
    std::vector<std::string> names;
    Registry::Key key = 0;
    if (!registry.OpenKey(Registry::kLocalMachine, path, key)) {
        return {"<no key>"};
    }
    std::string name;
    for (std::size_t i = 0; registry.EnumKey(key, i, name); ++i) {
        names.push_back(name);
    }
    return names;
}

TEST(RegistryFile, ReadsValuesKeysCommentsAndLineEndings) {
    std::string error;
    const auto registry = Registry::FromText(
        "# adapters on this laptop\n"
        "\n"
        "  \t \n"
        "Drivers\\Active\\07\tPnpId\tSocket-CF-Serial\r\n"
        "Drivers\\Active\\07\tName\t/dev/ttyS4\n"
        "Drivers\\Active\\02\n"
        "Drivers\\Active\\03\tPnpId\tQuatech\tSSP-100\n"
        "Drivers\\Active\\03\tEmpty\t\n"
        "Drivers\\Active\\07\tName\t/dev/ttyS5",  // later line wins, no final newline
        &error);
    ASSERT_TRUE(registry) << error;
    EXPECT_EQ(Value(*registry, "Drivers\\Active\\07", "PnpId"), "Socket-CF-Serial");
    EXPECT_EQ(Value(*registry, "Drivers\\Active\\07", "Name"), "/dev/ttyS5");
    EXPECT_EQ(Value(*registry, "Drivers\\Active\\03", "PnpId"), "Quatech\tSSP-100");
    EXPECT_EQ(Value(*registry, "Drivers\\Active\\03", "Empty"), "");
    EXPECT_EQ(Value(*registry, "Drivers\\Active\\02", "PnpId"), "<missing>");
    // Subkeys enumerate in the order they first appear.
    EXPECT_EQ(Subkeys(*registry, "Drivers\\Active"), (std::vector<std::string>{"07", "02", "03"}));
    EXPECT_EQ(Subkeys(*registry, "Drivers"), (std::vector<std::string>{"Active"}));
}

TEST(RegistryFile, MalformedLinesNameTheirLine) {
    struct Case {
        const char* legend;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"one tab only", "# c\nDrivers\\Active\\00\tPnpId\n", "line 2: expected KEY<TAB>VALUE"},
        {"empty value name", "A\tPnpId\tx\nA\t\tx\n", "line 2: empty value name"},
        {"empty key path", "\tPnpId\tx\n", "line 1: malformed key path"},
        {"leading backslash", "\\Drivers\tPnpId\tx\n", "line 1: malformed key path"},
        {"trailing backslash", "Drivers\\\tPnpId\tx\n", "line 1: malformed key path"},
        {"doubled backslash", "\n\nDrivers\\\\Active\n", "line 3: malformed key path"},
        {"NUL byte", std::string("A\tB\tx\0y\n", 8), "line 1: contains a NUL byte"},
        {"CRLF counted once", "A\tB\tx\r\n\r\nA\tB\r\n", "line 3: expected KEY<TAB>VALUE"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto registry = Registry::FromText(c.text, &error, "test.reg");
        EXPECT_FALSE(registry) << c.legend;
        EXPECT_NE(error.find("test.reg, " + c.expected), std::string::npos)
            << c.legend << ": got \"" << error << "\"";
    }
}

TEST(RegistryFile, RefusesPathsNestedTooDeepAndOversizedText) {
    std::string deep;
    for (std::size_t i = 0; i <= Registry::kMaxDepth; ++i) {
        deep += (i ? "\\k" : "k");
    }
    std::string error;
    EXPECT_FALSE(Registry::FromText(deep + "\tV\tx\n", &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);

    // Exactly the limit is fine.
    const std::string limit = deep.substr(0, deep.size() - 2);
    EXPECT_TRUE(Registry::FromText(limit + "\tV\tx\n", &error)) << error;

    EXPECT_FALSE(Registry::FromText(std::string(Registry::kMaxFileBytes + 1, '#'), &error));
    EXPECT_NE(error.find("too large"), std::string::npos);
}

TEST(RegistryFile, FromFileReadsDiskAndReportsMissingFile) {
    char path[] = "/tmp/ketrion-registry-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream out(path);
        out << "Drivers\\Active\\00\tPnpId\tQuatech SSP\nDrivers\\Active\\00\tName\t/dev/ttyS9\n";
    }
    std::string error;
    const auto registry = Registry::FromFile(path, &error);
    ASSERT_TRUE(registry) << error;
    EXPECT_EQ(Value(*registry, "drivers\\ACTIVE\\00", "name"), "/dev/ttyS9");

    {
        std::ofstream out(path);
        out << "ok\tV\tx\nbad\n\tV\tx\n";
    }
    EXPECT_FALSE(Registry::FromFile(path, &error));
    EXPECT_NE(error.find(std::string(path) + ", line 3"), std::string::npos) << error;
    std::remove(path);

    EXPECT_FALSE(Registry::FromFile(path, &error));
    EXPECT_NE(error.find("cannot read registry file"), std::string::npos) << error;

    // A directory opens like a file but has nothing to read.
    error.clear();
    EXPECT_FALSE(Registry::FromFile("/tmp", &error));
    EXPECT_NE(error.find("cannot read registry file /tmp"), std::string::npos) << error;
}

TEST(RegistryTree, LookupIgnoresCaseAndRejectsBadHandlesAndPaths) {
    Registry registry;
    ASSERT_TRUE(registry.SetValue("Drivers\\Active\\01", "PnpId", "x"));
    EXPECT_FALSE(registry.SetValue("Drivers\\\\Active", "PnpId", "x"));
    EXPECT_FALSE(registry.SetValue("Drivers", "", "x"));

    Registry::Key active = 0;
    ASSERT_TRUE(registry.OpenKey(Registry::kLocalMachine, "DRIVERS\\active", active));
    Registry::Key sub = 0;
    EXPECT_TRUE(registry.OpenKey(active, "01", sub));
    std::string text;
    EXPECT_TRUE(registry.QueryValue(sub, "PNPID", text));
    EXPECT_EQ(text, "x");
    // An empty path opens the key itself.
    Registry::Key same = 99;
    EXPECT_TRUE(registry.OpenKey(active, "", same));
    EXPECT_EQ(same, active);

    EXPECT_FALSE(registry.OpenKey(active, "02", sub));
    EXPECT_FALSE(registry.OpenKey(active, "01\\", sub));
    EXPECT_FALSE(registry.OpenKey(12345, "01", sub));
    EXPECT_FALSE(registry.EnumKey(12345, 0, text));
    EXPECT_FALSE(registry.QueryValue(12345, "PnpId", text));
    EXPECT_FALSE(registry.EnumKey(sub, 0, text));  // a leaf has no subkeys
}

TEST(RegistryDevices, PnpIdFollowsTheDeviceKind) {
    struct Case {
        const char* legend;
        SerialDeviceIdentity device;
        std::string expected;
    };
    const Case cases[] = {
        {"CF card: product ids joined with '-'",
         {"/dev/ttyS0", {"Quatech Inc", "Dual RS-232 CF", "", ""}, "", "", "", "", "serial_cs"},
         "Quatech Inc-Dual RS-232 CF"},
        {"CF card ids with a gap",
         {"/dev/ttyS0", {"Socket", "", "CF+ Serial"}, "", "", "", "", ""},
         "Socket-CF+ Serial"},
        {"USB: manufacturer and product joined with '_'",
         {"/dev/ttyUSB0", {}, "Quatech", "SSU2-100", "061d", "c020", "ftdi_sio"},
         "Quatech_SSU2-100"},
        {"USB without strings falls back to ids",
         {"/dev/ttyUSB1", {}, "", "", "0403", "6001", "ftdi_sio"},
         "USB_0403_6001"},
        {"neither: the driver", {"/dev/ttyS1", {}, "", "", "", "", "serial8250"}, "serial8250"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PnpIdFor(c.device), c.expected) << c.legend;
    }
}

TEST(RegistryDevices, KeysAreNumberedWithTwoDigits) {
    std::vector<SerialDeviceIdentity> devices(12);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        devices[i].devnode = "/dev/ttyUSB" + std::to_string(i);
        devices[i].driver = "ftdi_sio";
    }
    const Registry registry = RegistryFromDevices(devices);
    const auto keys = Subkeys(registry, "Drivers\\Active");
    ASSERT_EQ(keys.size(), 12u);
    EXPECT_EQ(keys.front(), "00");
    EXPECT_EQ(keys[7], "07");
    EXPECT_EQ(keys.back(), "11");
    EXPECT_EQ(Value(registry, "Drivers\\Active\\11", "Name"), "/dev/ttyUSB11");

    // With no devices the key still exists and is empty.
    EXPECT_TRUE(Subkeys(RegistryFromDevices({}), "Drivers\\Active").empty());
}

TEST(RegistryDevices, UdevTreeListsDeviceNodes) {
    // Whatever this machine has (often nothing), every listed driver has a
    // /dev path and a PnpId value.
    const Registry registry = Registry::FromUdev();
    Registry::Key active = 0;
    ASSERT_TRUE(registry.OpenKey(Registry::kLocalMachine, "Drivers\\Active", active));
    std::string name;
    for (std::size_t i = 0; registry.EnumKey(active, i, name); ++i) {
        const std::string path = "Drivers\\Active\\" + name;
        EXPECT_EQ(Value(registry, path, "Name").rfind("/dev/", 0), 0u) << path;
        EXPECT_NE(Value(registry, path, "PnpId"), "<missing>") << path;
    }
}

}  // namespace
}  // namespace ketrion
