#include "sound/output_buffer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "memory_streams.h"

namespace {

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

}  // namespace
