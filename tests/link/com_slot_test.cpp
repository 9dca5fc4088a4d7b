#include "link/Com.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Take(CCom& com) {
    std::uint8_t out[frame::kMaxOutgoing];
    const std::uint32_t n = com.TakeRequest(out);
    return Bytes(out, out + n);
}

TEST(ComSlot, HoldsOneRequestAndRefusesOversize) {
    CCom com;
    EXPECT_FALSE(com.writeEvent.IsSet());
    const Bytes first = {1, 2, 3};
    const Bytes second = {4, 5};
    EXPECT_TRUE(com.QueueWrite(first.data(), 3));
    EXPECT_TRUE(com.QueueWrite(second.data(), 2));
    EXPECT_TRUE(com.writeEvent.IsSet());

    // Too long for the slot: refused, and the pending request stays intact.
    const Bytes big(frame::kMaxOutgoing + 1, 0xAB);
    EXPECT_FALSE(com.QueueWrite(big.data(), static_cast<std::uint32_t>(big.size())));
    const Bytes full(frame::kMaxOutgoing, 0xCD);

    EXPECT_EQ(Take(com), second);
    EXPECT_FALSE(com.writeEvent.IsSet());
    EXPECT_TRUE(Take(com).empty()) << "a taken request is not written twice";

    // A request queued while the previous one is being written is kept.
    EXPECT_TRUE(com.QueueWrite(full.data(), static_cast<std::uint32_t>(full.size())));
    EXPECT_TRUE(com.writeEvent.IsSet());
    EXPECT_EQ(Take(com), full);
}

// A port that reports its closing to the test.
class WatchedPort final : public SerialPort {
public:
    explicit WatchedPort(int& closes) : m_closes(closes) {}
    bool IsOpen() const override { return m_open; }
    std::size_t InputCount() override { return 0; }
    std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
    std::size_t Write(const std::uint8_t*, std::size_t n) override { return n; }
    int Descriptor() const override { return -1; }
    bool Lost() const override { return false; }
    std::string LossReason() const override { return {}; }
    void CheckLine(short) override {}
    void Purge() override {}
    void Close() override {
        if (m_open) {
            ++m_closes;
        }
        m_open = false;
    }

private:
    int& m_closes;
    bool m_open = true;
};

TEST(ComLifetime, ClosesItsPortWithoutWaitingWhenNoThreadRan) {
    int closes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    {
        CCom com;
        com.Attach(std::make_unique<WatchedPort>(closes));
        EXPECT_TRUE(com.IsPortOpen());
        // Attaching another port closes the first one.
        com.Attach(std::make_unique<WatchedPort>(closes));
        EXPECT_EQ(closes, 1);
    }
    EXPECT_EQ(closes, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));

    CCom empty;
    EXPECT_EQ(empty.Port(), nullptr);
    EXPECT_FALSE(empty.IsPortOpen());
}

}  // namespace
}  // namespace ketrion
