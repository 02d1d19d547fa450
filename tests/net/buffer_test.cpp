#include <gtest/gtest.h>

#include <deque>

#include "http/buffer.h"

namespace quorvel::test {
namespace {

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(ByteQueue, SearchesAndRemovesRelativeToTheFront) {
    TIdBuffer q;
    q.Write(B("abc"));
    q.Write(B("def"));
    EXPECT_EQ(q.IndexOf(B("cd")), 2);
    EXPECT_EQ(q.IndexOf(B("cd"), 3), -1);
    EXPECT_EQ(q.IndexOf(B("fg")), -1);
    EXPECT_EQ(q.IndexOf(B("")), -1);
    EXPECT_EQ(q.Extract(2), B("ab"));
    EXPECT_EQ(q.IndexOf(B("d")), 1);
    EXPECT_EQ(q.Peek(2), B("cd"));
    EXPECT_EQ(q.Size(), 4u);
    TMemoryStream s;
    q.ExtractToStream(s, 100);
    EXPECT_EQ(s.Bytes(), B("cdef"));
    EXPECT_TRUE(q.Empty());
}

TEST(ByteQueue, KeepsOrderThroughManySmallAppendsAndFrontRemovals) {
    TIdBuffer q;
    std::deque<std::uint8_t> expected;
    for (int i = 0; i < 300000; ++i) {
        const auto b = static_cast<std::uint8_t>(i % 251);
        q.Write(&b, 1);
        expected.push_back(b);
        if (i % 7 == 0) {
            q.Remove(3);
            for (int k = 0; k < 3 && !expected.empty(); ++k) expected.pop_front();
        }
    }
    ASSERT_EQ(q.Size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); k += 997) ASSERT_EQ(q.PeekByte(k), expected[k]) << k;
    // A pattern found from a start near the end, where a line search resumes.
    const std::uint8_t marker[] = {0xFF, 0xFE};
    q.Write(marker, 2);
    EXPECT_EQ(q.IndexOf(Bytes{0xFF, 0xFE}, q.Size() - 3), static_cast<std::int64_t>(q.Size() - 2));
}

}  // namespace
}  // namespace quorvel::test
