#include "sound/output_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "memory_streams.h"

namespace {

TEST(OutputBuffer, SmallCopiesTouchTheirBytesOnly) {
  // Each length the word-wise copy treats apart, between guard bytes.
  unsigned char from[40];
  for (unsigned i = 0; i < sizeof from; ++i) from[i] = static_cast<unsigned char>(i + 1);
  for (std::size_t count = 0; count <= 33; ++count) {
    std::vector<unsigned char> to(count + 2, 0xEE);
    copyBytes(to.data() + 1, from, count);
    std::vector<unsigned char> expected(count + 2, 0xEE);
    std::copy(from, from + count, expected.begin() + 1);
    EXPECT_EQ(to, expected) << count;
  }
}

TEST(OutputBuffer, WritesInBlocksAndKeepsOrder) {
  MemorySink sink;
  OutputBuffer output;
  ASSERT_TRUE(startOutput(output, memorySink(sink), 4));
  const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(writeOutput(output, bytes, 3));
  ASSERT_TRUE(writeOutput(output, bytes + 3, 7));
  EXPECT_EQ(sink.bytes.size(), 8u);  // two full blocks out, two bytes waiting
  ASSERT_TRUE(flushOutput(output));
  EXPECT_EQ(sink.bytes, std::vector<unsigned char>(bytes, bytes + 10));
}

TEST(OutputBuffer, FailureIsStickyAndKeepsTheSinksReason) {
  MemorySink sink;
  sink.failAfterWrites = 0;
  OutputBuffer output;
  ASSERT_TRUE(startOutput(output, memorySink(sink), 4));
  const unsigned char bytes[] = {1, 2};
  EXPECT_TRUE(writeOutput(output, bytes, 2));  // still waiting in the block
  EXPECT_FALSE(flushOutput(output));
  EXPECT_EQ(output.error, ENOSPC);
  sink.failAfterWrites = -1;
  EXPECT_FALSE(writeOutput(output, bytes, 2));
  EXPECT_FALSE(flushOutput(output));
  EXPECT_TRUE(sink.bytes.empty());
}

// A sink that lends its first bytes of space and then takes writes.
struct LendingSink {
  unsigned char space[6] = {};
  std::size_t taken = 0;
  std::vector<unsigned char> written;
};

TEST(OutputBuffer, MakesBytesInSpaceASinkLendsThenWrites) {
  LendingSink lender;
  ByteSink sink;
  sink.context = &lender;
  sink.write = [](void* context, const unsigned char* bytes, std::size_t count) {
    auto& to = *static_cast<LendingSink*>(context);
    to.written.insert(to.written.end(), bytes, bytes + count);
    return portOk;
  };
  sink.lend = [](void* context, std::size_t& room) -> unsigned char* {
    auto& to = *static_cast<LendingSink*>(context);
    room = sizeof to.space - to.taken;
    return room > 0 ? to.space + to.taken : nullptr;
  };
  sink.take = [](void* context, std::size_t count) {
    static_cast<LendingSink*>(context)->taken += count;
    return portOk;
  };
  OutputBuffer output;
  ASSERT_TRUE(startOutput(output, sink, 4));
  const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(writeOutput(output, bytes, 3));
  ASSERT_TRUE(flushOutput(output));  // a flush in the middle: the next bytes go after those taken
  ASSERT_TRUE(writeOutput(output, bytes + 3, 7));
  ASSERT_TRUE(flushOutput(output));
  EXPECT_EQ(lender.taken, 6u);
  EXPECT_EQ(std::vector<unsigned char>(lender.space, lender.space + 6),
            std::vector<unsigned char>(bytes, bytes + 6));
  EXPECT_EQ(lender.written, std::vector<unsigned char>(bytes + 6, bytes + 10));
}

}  // namespace
