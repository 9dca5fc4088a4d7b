#include "platform/Registry.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace ketrion {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Splits a backslash-separated key path. Empty components (a leading,
// trailing or doubled backslash) and paths deeper than the limit are refused.
// An empty path names the key itself.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
    parts.clear();
    if (path.empty()) {
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || parts.size() == Registry::kMaxDepth) {
            return false;
        }
        parts.push_back(part);
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

}  // namespace

Registry::Registry() : m_nodes(1) {}

std::optional<Registry::Key> Registry::Child(Key parent, std::string_view name) const {
    if (parent >= m_nodes.size()) {
        return std::nullopt;
    }
    const auto& index = m_nodes[parent].childByName;
    const auto found = index.find(Lower(name));
    if (found == index.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool Registry::OpenKey(Key parent, std::string_view path, Key& key) const {
    std::vector<std::string_view> parts;
    if (parent >= m_nodes.size() || !SplitPath(path, parts)) {
        return false;
    }
    Key at = parent;
    for (std::string_view part : parts) {
        const std::optional<Key> next = Child(at, part);
        if (!next) {
            return false;
        }
        at = *next;
    }
    key = at;
    return true;
}

bool Registry::EnumKey(Key key, std::size_t index, std::string& name) const {
    if (key >= m_nodes.size() || index >= m_nodes[key].children.size()) {
        return false;
    }
    name = m_nodes[m_nodes[key].children[index]].name;
    return true;
}

bool Registry::QueryValue(Key key, std::string_view name, std::string& text) const {
    if (key >= m_nodes.size()) {
        return false;
    }
    const Node& node = m_nodes[key];
    const auto found = node.valueByName.find(Lower(name));
    if (found == node.valueByName.end()) {
        return false;
    }
    text = node.values[found->second].second;
    return true;
}

std::optional<Registry::Key> Registry::MakePath(std::string_view path) {
    std::vector<std::string_view> parts;
    if (!SplitPath(path, parts) || parts.empty()) {
        return std::nullopt;
    }
    Key at = kLocalMachine;
    for (std::string_view part : parts) {
        if (const std::optional<Key> next = Child(at, part)) {
            at = *next;
            continue;
        }
        const Key created = m_nodes.size();
        m_nodes.emplace_back();
        m_nodes.back().name = std::string(part);
        m_nodes[at].children.push_back(created);
        m_nodes[at].childByName.emplace(Lower(part), created);
        at = created;
    }
    return at;
}

bool Registry::CreateKey(std::string_view path) {
    return MakePath(path).has_value();
}

bool Registry::SetValue(std::string_view path, std::string_view name, std::string_view text) {
    if (name.empty()) {
        return false;
    }
    const std::optional<Key> key = MakePath(path);
    if (!key) {
        return false;
    }
    Node& node = m_nodes[*key];
    const auto [found, added] = node.valueByName.emplace(Lower(name), node.values.size());
    if (added) {
        node.values.emplace_back(std::string(name), std::string(text));
    } else {
        node.values[found->second].second = std::string(text);
    }
    return true;
}

std::optional<Registry> Registry::FromText(std::string_view text, std::string* error,
                                           std::string_view source) {
    auto fail = [&](std::size_t line, std::string_view what) -> std::optional<Registry> {
        if (error) {
            std::ostringstream message;
            message << source << ", line " << line << ": " << what;
            *error = message.str();
        }
        return std::nullopt;
    };
    if (text.size() > kMaxFileBytes) {
        return fail(0, "file too large");
    }
    Registry registry;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        ++lineNumber;
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') {
            continue;
        }
        if (line.find('\0') != std::string_view::npos) {
            return fail(lineNumber, "contains a NUL byte");
        }
        const std::size_t tab1 = line.find('\t');
        if (tab1 == std::string_view::npos) {
            // A key on its own: it exists, with no values.
            if (!registry.CreateKey(line)) {
                return fail(lineNumber, "malformed key path (empty part or nested too deep)");
            }
            continue;
        }
        const std::size_t tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) {
            return fail(lineNumber, "expected KEY<TAB>VALUE-NAME<TAB>TEXT");
        }
        const std::string_view path = line.substr(0, tab1);
        const std::string_view name = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string_view value = line.substr(tab2 + 1);
        if (name.empty()) {
            return fail(lineNumber, "empty value name");
        }
        if (!registry.SetValue(path, name, value)) {
            return fail(lineNumber, "malformed key path (empty part or nested too deep)");
        }
    }
    return registry;
}

std::optional<Registry> Registry::FromFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) {
            *error = "cannot read registry file " + path + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxFileBytes) {
            if (error) {
                *error = path + ": registry file larger than " + std::to_string(kMaxFileBytes) +
                         " bytes";
            }
            return std::nullopt;
        }
    }
    if (file.bad()) {
        // A directory opens but cannot be read.
        if (error) {
            *error = "cannot read registry file " + path + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    return FromText(text, error, path);
}

std::string PnpIdFor(const SerialDeviceIdentity& device) {
    auto join = [](const std::vector<std::string>& parts, char separator) {
        std::string out;
        for (const std::string& part : parts) {
            if (part.empty()) {
                continue;
            }
            if (!out.empty()) {
                out += separator;
            }
            out += part;
        }
        return out;
    };
    if (std::string id = join(device.pcmciaProdIds, '-'); !id.empty()) {
        return id;
    }
    if (std::string id = join({device.usbManufacturer, device.usbProduct}, '_'); !id.empty()) {
        return id;
    }
    if (!device.usbVendorId.empty() || !device.usbProductId.empty()) {
        return "USB_" + device.usbVendorId + "_" + device.usbProductId;
    }
    return device.driver;
}

Registry RegistryFromDevices(const std::vector<SerialDeviceIdentity>& devices) {
    Registry registry;
    registry.CreateKey("Drivers\\Active");
    for (std::size_t i = 0; i < devices.size(); ++i) {
        char index[24];
        std::snprintf(index, sizeof index, "%02zu", i);
        const std::string key = std::string("Drivers\\Active\\") + index;
        registry.SetValue(key, "PnpId", PnpIdFor(devices[i]));
        registry.SetValue(key, "Name", devices[i].devnode);
    }
    return registry;
}

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string Attribute(udev_device* device, const char* name) {
    const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
    if (!value) {
        return {};
    }
    std::string text(value);
    // sysfs attributes end with a newline; some cards pad their ids with blanks.
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

Registry Registry::FromUdev() {
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) {
        return RegistryFromDevices({});
    }
    std::unique_ptr<udev_enumerate, UdevDeleter> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return RegistryFromDevices({});
    }
    std::vector<SerialDeviceIdentity> devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        std::unique_ptr<udev_device, UdevDeleter> device(
            udev_device_new_from_syspath(context.get(), syspath));
        if (!device) {
            continue;
        }
        const char* devnode = udev_device_get_devnode(device.get());
        // Virtual terminals and pseudo-terminals have no parent device; only
        // ports backed by hardware (or a driver for it) are listed.
        udev_device* parent = udev_device_get_parent(device.get());
        if (!devnode || !parent) {
            continue;
        }
        // Legacy UART slots with no chip behind them report port type 0.
        if (Attribute(device.get(), "type") == "0") {
            continue;
        }
        SerialDeviceIdentity identity;
        identity.devnode = devnode;
        if (udev_device* card =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "pcmcia", nullptr)) {
            for (const char* name : {"prod_id1", "prod_id2", "prod_id3", "prod_id4"}) {
                identity.pcmciaProdIds.push_back(Attribute(card, name));
            }
        }
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")) {
            identity.usbManufacturer = Attribute(usb, "manufacturer");
            identity.usbProduct = Attribute(usb, "product");
            identity.usbVendorId = Attribute(usb, "idVendor");
            identity.usbProductId = Attribute(usb, "idProduct");
        }
        if (const char* driver = udev_device_get_driver(parent)) {
            identity.driver = driver;
        } else if (const char* subsystem = udev_device_get_subsystem(parent)) {
            identity.driver = subsystem;
        }
        devices.push_back(std::move(identity));
    }
    // A stable order (ttyS0 before ttyS1 before ttyUSB0) so key numbers do not
    // change between runs with the same devices.
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        if (a.devnode.size() != b.devnode.size()) {
            return a.devnode.size() < b.devnode.size();
        }
        return a.devnode < b.devnode;
    });
    return RegistryFromDevices(devices);
}

}  // namespace ketrion
