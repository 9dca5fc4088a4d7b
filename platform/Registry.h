#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ketrion {

// The device registry as the port search reads it: a read-only tree of keys,
// each with named string values and ordered subkeys. Key and value names are
// compared without regard to ASCII case; values are UTF-8 texts.
//
// On Linux the tree is built from udev: "Drivers\Active" holds one subkey per
// serial tty device ("00", "01", ...) with the values "PnpId" (the device's
// identity) and "Name" (its /dev path). A registry file can stand in for it.
//
// The operations mirror the handheld's registry calls (open a key, enumerate
// subkeys by index, read a value, close); they are virtual so tests can make
// single keys or values fail.
class Registry {
public:
    // Refers to an open key. Handles stay valid for the registry's life.
    using Key = std::size_t;
    // The root of the tree (the machine-wide hive).
    static constexpr Key kLocalMachine = 0;

    // Bounds for untrusted registry files: a file larger than this, or a
    // path nested deeper, is refused rather than read.
    static constexpr std::size_t kMaxFileBytes = 1 << 20;
    static constexpr std::size_t kMaxDepth = 32;

    Registry();
    virtual ~Registry() = default;
    Registry(const Registry&) = default;
    Registry& operator=(const Registry&) = default;
    Registry(Registry&&) = default;
    Registry& operator=(Registry&&) = default;

    // Builds the tree from the serial tty devices udev knows. Never fails:
    // without udev, or with no serial devices, "Drivers\Active" is empty.
    static Registry FromUdev();

    // Reads a registry file: one value per line, "KEY\PATH<TAB>VALUE<TAB>TEXT";
    // a line holding only "KEY\PATH" creates the key without values. Lines of
    // blanks and lines starting with '#' are skipped; a trailing CR is dropped. On a
    // malformed line returns nothing and sets *error to a message naming the
    // line number.
    static std::optional<Registry> FromFile(const std::string& path, std::string* error);
    // The same parser over text already in memory; `source` names it in messages.
    static std::optional<Registry> FromText(std::string_view text, std::string* error,
                                            std::string_view source = "registry file");

    // Opens the key at `path` (backslash-separated, relative to `parent`).
    // Returns false when a component is missing or the path is malformed.
    virtual bool OpenKey(Key parent, std::string_view path, Key& key) const;
    // Names the subkey at `index` of `key`, in insertion order. Returns false
    // when there is no subkey at that index (the end of the enumeration).
    virtual bool EnumKey(Key key, std::size_t index, std::string& name) const;
    // Reads the value `name` of `key`; false when the key has no such value.
    virtual bool QueryValue(Key key, std::string_view name, std::string& text) const;
    // Closing has nothing to release; kept so callers pair every open.
    virtual void CloseKey(Key) const {}

    // Building: creates the keys along `path` as needed (relative to the root)
    // and sets the value, replacing an earlier one of the same name. Returns
    // false, changing nothing, when the path is malformed or nested too deep.
    bool SetValue(std::string_view path, std::string_view name, std::string_view text);
    // Creates the keys along `path`; returns false when the path is malformed.
    bool CreateKey(std::string_view path);

private:
    struct Node {
        std::string name;
        std::vector<Key> children;                         // enumeration order
        std::unordered_map<std::string, Key> childByName;  // lower-cased name
        std::vector<std::pair<std::string, std::string>> values;
        std::unordered_map<std::string, std::size_t> valueByName;  // lower-cased name
    };

    std::optional<Key> Child(Key parent, std::string_view name) const;
    std::optional<Key> MakePath(std::string_view path);

    std::vector<Node> m_nodes;
};

// The udev-derived identity of one serial device, kept separate from udev so
// the naming rules can be tested without hardware.
struct SerialDeviceIdentity {
    std::string devnode;                     // "/dev/ttyUSB0"
    std::vector<std::string> pcmciaProdIds;  // prod_id1..4 of a PC Card/CF card
    std::string usbManufacturer;             // of the USB device, when it is one
    std::string usbProduct;
    std::string usbVendorId;  // idVendor/idProduct, used when the strings are missing
    std::string usbProductId;
    std::string driver;  // driver of the parent device, the last resort
};

// The PnpId for a device: PC Card/CF product ids joined with '-', USB
// manufacturer and product joined with '_', else the vendor and product ids,
// else the driver name.
std::string PnpIdFor(const SerialDeviceIdentity& device);

// Builds "Drivers\Active" from a list of devices: subkey "00", "01", ... in
// list order, each with "PnpId" and "Name".
Registry RegistryFromDevices(const std::vector<SerialDeviceIdentity>& devices);

}  // namespace ketrion
