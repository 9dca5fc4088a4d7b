#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "engine/LinkList.h"

namespace ketrion {
namespace {

LinkList::Node* Add(LinkList& list, std::uint8_t id, std::int16_t signal) {
    LinkList::Node* node = nullptr;
    EXPECT_EQ(list.NewNode(node), 0);
    node->mac[5] = id;
    node->signalSum = signal;
    node->hasDetails = 1;
    node->sampleCount = 1;
    list.InsertSorted(node);
    return node;
}

TEST(LinkListNodes, EmptyListHasOnlyTheSentinel) {
    LinkList list;
    LinkList::Node* node = reinterpret_cast<LinkList::Node*>(&list);
    EXPECT_EQ(list.GetAt(1, node), -2);
    EXPECT_EQ(node, nullptr);
    const std::uint8_t mac[6] = {};
    EXPECT_EQ(list.FindByMac(mac, node), -1);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.sortMode, 3);
    EXPECT_EQ(list.cursor, list.head);
    EXPECT_EQ(list.head->next, list.head);
    EXPECT_EQ(list.head->prev, list.head);
}

TEST(LinkListNodes, WalkFindAndPositions) {
    LinkList list;
    Add(list, 1, -80);
    Add(list, 2, -40);
    Add(list, 3, -60);
    LinkList::Node* node = nullptr;
    ASSERT_EQ(list.GetAt(2, node), 0);
    EXPECT_EQ(node->mac[5], 3);
    ASSERT_EQ(list.GetNext(node), 0);
    EXPECT_EQ(node->mac[5], 2);
    EXPECT_EQ(list.GetNext(node), -2);
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(list.GetAt(4, node), -2);
    EXPECT_EQ(list.GetAt(0, node), -2);

    const std::uint8_t mac[6] = {0, 0, 0, 0, 0, 3};
    ASSERT_EQ(list.FindByMac(mac, node), 0);
    EXPECT_EQ(node->signalSum, -60);
    // The list stays doubly linked both ways round.
    EXPECT_EQ(list.head->prev->mac[5], 2);
    EXPECT_EQ(list.head->prev->prev->mac[5], 3);
}

TEST(LinkListNodes, OtherSortModeAppends) {
    LinkList list;
    list.sortMode = 0;
    Add(list, 1, -40);
    Add(list, 2, -80);
    LinkList::Node* node = nullptr;
    ASSERT_EQ(list.GetAt(1, node), 0);
    EXPECT_EQ(node->mac[5], 1);
}

TEST(LinkListNodes, RemoveAllEmptiesAndTheListIsReusable) {
    LinkList list;
    for (std::uint8_t i = 0; i < 10; ++i) {
        Add(list, i, static_cast<std::int16_t>(-i));
    }
    EXPECT_EQ(list.count, 11);
    EXPECT_EQ(list.RemoveAll(), 0);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.cursor, list.head);
    LinkList::Node* node = nullptr;
    EXPECT_EQ(list.GetAt(1, node), -2);
    Add(list, 7, -50);
    ASSERT_EQ(list.GetAt(1, node), 0);
    EXPECT_EQ(node->mac[5], 7);
    EXPECT_EQ(list.Size(), 1);
}

TEST(LinkListNodes, FormatMacIsUpperCaseHex) {
    const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0xfe, 0x09, 0xa0};
    char text[13];
    std::memset(text, 'z', sizeof text);
    FormatMac(mac, text);
    EXPECT_STREQ(text, "001A2BFE09A0");
}

}  // namespace
}  // namespace ketrion
