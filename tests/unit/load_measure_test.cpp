// What nelv3load counts: the delivery ledger (missing, duplicated,
// reordered, unexpected, the window), the text stamp and the percentiles.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/load/measure.h"

namespace nelv::load {
namespace {

TEST(DeliveryLedger, CountsEachKindOfWrongDelivery) {
    // Clients 0 and 1 in room 0, client 2 in room 1; clients 0 and 2 send
    // two texts each. A row lists receipts as {receiver, sender, seq} after
    // everything is sent.
    struct Receipt {
        std::uint32_t receiver, sender, seq;
    };
    struct Case {
        const char* what;
        std::vector<Receipt> receipts;
        LedgerCounts want;  // deliveries, missing, duplicated, reordered, unexpected
    };
    const std::vector<Receipt> all = {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 1}, {2, 2, 0}, {2, 2, 1}};
    const Case cases[] = {
        {"all in order, senders hearing their own", all, {6, 0, 0, 0, 0}},
        {"the sender's own echo missing", {{1, 0, 0}, {1, 0, 1}, {2, 2, 0}, {2, 2, 1}}, {4, 2, 0, 0, 0}},
        {"one twice", {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 0}, {1, 0, 1}, {2, 2, 0}, {2, 2, 1}}, {6, 0, 1, 0, 0}},
        {"swapped: the later one counts", {{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {2, 2, 1}, {2, 2, 0}},
         {6, 0, 0, 2, 0}},
        {"a gap is missing, not reordered", {{0, 0, 1}, {1, 0, 0}, {1, 0, 1}, {2, 2, 0}, {2, 2, 1}}, {5, 1, 0, 0, 0}},
        {"other room, non-sender, never sent, nobody",
         {{2, 0, 0}, {0, 1, 0}, {0, 0, 2}, {0, 99, 0}, {99, 0, 0}}, {0, 6, 0, 0, 5}},
    };
    for (const Case& c : cases) {
        DeliveryLedger ledger({0, 0, 1}, {true, false, true}, 2);
        for (std::uint32_t sender : {0u, 0u, 2u, 2u}) ledger.Send(sender);
        for (const Receipt& r : c.receipts) ledger.Record(r.receiver, r.sender, r.seq);
        const LedgerCounts got = ledger.Counts();
        EXPECT_EQ(got.deliveries, c.want.deliveries) << c.what;
        EXPECT_EQ(got.missing, c.want.missing) << c.what;
        EXPECT_EQ(got.duplicated, c.want.duplicated) << c.what;
        EXPECT_EQ(got.reordered, c.want.reordered) << c.what;
        EXPECT_EQ(got.unexpected, c.want.unexpected) << c.what;
        EXPECT_EQ(ledger.Complete(), got.missing == 0) << c.what;
    }
}

TEST(DeliveryLedger, WindowOpensWhenTheLastReceiverHasTheText) {
    DeliveryLedger ledger({0, 0}, {true, false}, 3);
    EXPECT_FALSE(ledger.CanSend(1, 5));  // not a sender
    EXPECT_EQ(ledger.Send(0), 0u);
    EXPECT_EQ(ledger.Send(0), 1u);
    EXPECT_FALSE(ledger.CanSend(0, 2));
    EXPECT_EQ(ledger.Record(1, 0, 1), DeliveryLedger::Outcome::kDelivered);
    EXPECT_EQ(ledger.Record(0, 0, 1), DeliveryLedger::Outcome::kCompleted);  // out of order still completes
    EXPECT_TRUE(ledger.CanSend(0, 2));
    EXPECT_EQ(ledger.Record(0, 0, 1), DeliveryLedger::Outcome::kDuplicate);
    EXPECT_EQ(ledger.Send(0), 2u);
    EXPECT_FALSE(ledger.CanSend(0, 100));  // all three sent
    EXPECT_FALSE(ledger.Complete());
}

TEST(LoadMeasure, StampsAndPercentiles) {
    const std::string text = StampText({7, 12, 123456789}, 40);
    EXPECT_EQ(text, "7 12 123456789" + std::string(26, 'x'));
    const auto back = ReadStamp(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sender, 7u);
    EXPECT_EQ(back->seq, 12u);
    EXPECT_EQ(back->sentNs, 123456789);
    EXPECT_EQ(StampText({1, 2, 3}, 2), "1 2 3");  // never cut
    for (const char* bad : {"", "x", "1 2", "1  2 3", "1 2 x", "-1 2 3"}) EXPECT_FALSE(ReadStamp(bad)) << bad;

    struct Case {
        std::vector<std::uint64_t> values;
        double p;
        std::uint64_t want;  // within 1 %
    };
    std::vector<std::uint64_t> hundred;
    for (std::uint64_t v = 1; v <= 100; ++v) hundred.push_back(v);
    const Case cases[] = {
        {{}, 50, 0},
        {{5}, 50, 5},
        {hundred, 50, 50},
        {hundred, 99, 99},
        {hundred, 100, 100},
        {{3, 1, 2}, 50, 2},  // nearest rank: ceil(1.5) = 2nd
        {{1000, 1000000}, 50, 1000},
        {{1000, 1000000}, 99, 1000000},
        {{123456}, 99, 123456},  // never above the largest value
        {{0, 0, 0, 1ull << 40}, 75, 0},
    };
    for (const Case& c : cases) {
        Histogram h;
        for (std::uint64_t v : c.values) h.Add(v);
        const std::uint64_t got = h.Percentile(c.p);
        EXPECT_LE(got, c.values.empty() ? 0 : h.Max());
        EXPECT_NEAR(static_cast<double>(got), static_cast<double>(c.want), static_cast<double>(c.want) / 100)
            << "p" << c.p << " of " << c.values.size() << " values";
    }
}

}  // namespace
}  // namespace nelv::load
