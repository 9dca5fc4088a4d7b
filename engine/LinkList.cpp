#include "engine/LinkList.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace ketrion {

namespace {

std::int16_t ReadSignal(const std::uint8_t* entry) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(entry[6] | (entry[7] << 8)));
}

// Copies a detail record's name (already terminated within its field) into a
// record's 32-byte ssid, leaving it zero-terminated.
void CopyName(const std::uint8_t* detail, char (&ssid)[32]) {
    std::memcpy(ssid, detail + report::kNameOffset, sizeof ssid);
    ssid[sizeof ssid - 1] = '\0';
}

}  // namespace

void FormatMac(const std::uint8_t* mac, char (&text)[13]) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < 6; ++i) {
        text[2 * i] = kHex[mac[i] >> 4];
        text[2 * i + 1] = kHex[mac[i] & 0x0F];
    }
    text[12] = '\0';
}

LinkList::LinkList() : head(new Node) {
    head->prev = head;
    head->next = head;
    cursor = head;
}

LinkList::~LinkList() {
    RemoveAll();
    delete head;
}

int LinkList::RemoveAll() {
    std::lock_guard lock(listMutex);
    Node* node = head->next;
    while (node != head) {
        Node* next = node->next;
        delete node;
        --count;
        node = next;
    }
    head->prev = head;
    head->next = head;
    cursor = head;
    return 0;
}

int LinkList::FindByMac(const std::uint8_t* address, Node*& node) const {
    for (Node* n = head->next; n != head; n = n->next) {
        if (std::memcmp(n->mac, address, sizeof n->mac) == 0) {
            node = n;
            return 0;
        }
    }
    node = nullptr;
    return -1;
}

int LinkList::GetAt(int position, Node*& node) const {
    Node* n = head->next;
    for (int i = 1; n != head; ++i, n = n->next) {
        if (i == position) {
            node = n;
            return 0;
        }
    }
    node = nullptr;
    return -2;
}

int LinkList::GetNext(Node*& node) const {
    if (node == nullptr || node->next == head || node->next == nullptr) {
        node = nullptr;
        return -2;
    }
    node = node->next;
    return 0;
}

int LinkList::NewNode(Node*& node) {
    node = new (std::nothrow) Node;
    if (node == nullptr) {
        return -1;
    }
    ++count;
    return 0;
}

int LinkList::InsertSorted(Node* node) {
    Node* before = head;  // insert before this node; the sentinel means at the end
    if (sortMode == kSortBySignal) {
        for (Node* n = head->next; n != head; n = n->next) {
            if (n->signalSum > node->signalSum) {
                before = n;
                break;
            }
        }
    }
    node->next = before;
    node->prev = before->prev;
    before->prev->next = node;
    before->prev = node;
    return 0;
}

bool LinkList::ApplyReport(const std::uint8_t* body, std::uint32_t length, ReportScratch& scratch) {
    using namespace report;
    if (body == nullptr || length < 1) {
        return false;
    }
    const std::size_t n = body[0];
    scratch.reportApCount = static_cast<std::int16_t>(n);
    if (n == 0 || n > kMaxEntries) {
        return false;
    }
    // The detail count sits after the entries; the body must reach it.
    const std::size_t detailCountAt = 1 + kEntrySize * n;
    if (length < detailCountAt + 1) {
        return false;
    }
    std::memcpy(scratch.reportEntries, body + 1, kEntrySize * n);
    const std::size_t m = body[detailCountAt];
    scratch.reportDetailCount = static_cast<std::int16_t>(m);
    if (m > kMaxDetails) {
        return false;
    }
    // Every detail record and the check byte must be present.
    if (length < BodyLength(n, m)) {
        return false;
    }
    std::memcpy(scratch.reportDetails, body + detailCountAt + 1, kDetailSize * m);

    // Slot per entry: index of the (last) detail record describing it, or -1.
    int slot[kMaxEntries];
    for (std::size_t j = 0; j < n; ++j) {
        slot[j] = -1;
    }
    for (std::size_t k = 0; k < m; ++k) {
        std::uint8_t* detail = scratch.reportDetails[k];
        const std::size_t nameLength = detail[1];
        detail[kNameOffset + (nameLength < kMaxNameLength ? nameLength : kMaxNameLength)] = 0;
        if (detail[0] < n) {
            slot[detail[0]] = static_cast<int>(k);
        }
    }

    for (std::size_t j = 0; j < n; ++j) {
        const std::uint8_t* entry = scratch.reportEntries[j];
        const std::int16_t signal = ReadSignal(entry);
        const std::uint8_t* detail = slot[j] >= 0 ? scratch.reportDetails[slot[j]] : nullptr;
        Node* node = nullptr;
        if (FindByMac(entry, node) == 0) {
            if (detail != nullptr) {
                node->hasDetails = 1;
                node->attribute = detail[kAttributeOffset];
                CopyName(detail, node->ssid);
            }
            node->signalSum = static_cast<std::int16_t>(static_cast<std::uint16_t>(
                static_cast<std::uint16_t>(node->signalSum) + static_cast<std::uint16_t>(signal)));
            ++node->sampleCount;
        } else if (detail != nullptr) {
            if (NewNode(node) != 0) {
                continue;
            }
            node->hasDetails = 1;
            node->attribute = detail[kAttributeOffset];
            CopyName(detail, node->ssid);
            std::memcpy(node->mac, entry, sizeof node->mac);
            FormatMac(node->mac, node->macText);
            node->signalSum = signal;
            node->sampleCount = 1;
            InsertSorted(node);
        }
    }
    return true;
}

bool LinkList::TryApplyReport(const std::uint8_t* body, std::uint32_t length,
                              ReportScratch& scratch) {
    std::unique_lock lock(listMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    return ApplyReport(body, length, scratch);
}

}  // namespace ketrion
