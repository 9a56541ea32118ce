#include "app/trace_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/recording_sleeper.h"

namespace torvane {
namespace {

TEST(TraceLine, FormatsEachKindOfRequest) {
  const std::vector<std::uint8_t> address = {0xFF, 0x20};
  const std::vector<std::uint8_t> chip = {0xA3};
  const std::vector<std::uint8_t> block = {0x00, 0x0F, 0xAB, 0x10};
  struct Case {
    RequestRecord record;
    const char* line;
  };
  const Case cases[] = {
      {{RequestOp::Set, 2, 2, address, false, 0}, "SET 2 2 ff20 0x00000000"},
      {{RequestOp::Get, 3, 1, chip, false, 0}, "GET 3 1 a3 0x00000000"},
      {{RequestOp::Get, 15, 4, block, false, 1}, "GET 15 4 000fab10 0x00000001"},
      // A GET that delivered nothing.
      {{RequestOp::Get, 3, 1, {}, false, static_cast<HRESULT>(0x8007001F)},
       "GET 3 1 - 0x8007001f"},
      {{RequestOp::Length, 10, 4096, {}, true, 0}, "LEN 10 4096 - 0x00000000"},
      {{RequestOp::Length, 10, 0, {}, true, 0}, "LEN 10 0 - 0x00000000"},
      // No length written: LENGTH is '-', whatever the record carries.
      {{RequestOp::Length, 15, 77, {}, false, static_cast<HRESULT>(0x80070492)},
       "LEN 15 - - 0x80070492"},
      {{RequestOp::Set, 4294967295u, 0, {}, false, static_cast<HRESULT>(0x80004003)},
       "SET 4294967295 0 - 0x80004003"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTraceLine(c.record), c.line);
}

TEST(TraceWriter, WritesRequestsCommentsAndWaitsAsLines) {
  std::ostringstream out;
  TraceWriter trace(out);
  RecordingSleeper inner;
  TracingSleeper sleeper(inner, &trace);

  trace.Comment("header");
  const std::vector<std::uint8_t> one = {0x01};
  trace.OnRequest({RequestOp::Set, 9, 1, one, false, 0});
  sleeper.Sleep(1000);
  sleeper.Sleep(50);

  EXPECT_EQ(out.str(), "# header\nSET 9 1 01 0x00000000\nSLEEP 1000\nSLEEP 50\n");
  EXPECT_EQ(inner.waits, (std::vector<std::uint32_t>{1000, 50}));
}

TEST(TraceWriter, ASleeperWithoutTraceStillWaits) {
  RecordingSleeper inner;
  TracingSleeper sleeper(inner, nullptr);
  sleeper.Sleep(1000);
  EXPECT_EQ(inner.waits, (std::vector<std::uint32_t>{1000}));
}

}  // namespace
}  // namespace torvane
