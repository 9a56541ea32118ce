#include "app/trace_writer.h"

#include <cstdio>

namespace torvane {

std::string FormatTraceLine(const RequestRecord& record) {
  std::string line;
  switch (record.op) {
    case RequestOp::Set: line = "SET "; break;
    case RequestOp::Get: line = "GET "; break;
    case RequestOp::Length: line = "LEN "; break;
  }
  line += std::to_string(record.selector);
  line += ' ';
  if (record.op == RequestOp::Length && !record.lengthWritten) {
    line += '-';
  } else {
    line += std::to_string(record.length);
  }
  line += ' ';
  if (record.op == RequestOp::Length || record.data.empty()) {
    line += '-';
  } else {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::uint8_t byte : record.data) {
      line += kHex[byte >> 4];
      line += kHex[byte & 0x0F];
    }
  }
  char status[16];
  std::snprintf(status, sizeof status, " 0x%08x", static_cast<unsigned>(record.status));
  line += status;
  return line;
}

void TraceWriter::OnRequest(const RequestRecord& record) {
  out_ << FormatTraceLine(record) << '\n';
}

void TraceWriter::Comment(const std::string& text) { out_ << "# " << text << '\n'; }

void TraceWriter::Sleep(std::uint32_t milliseconds) { out_ << "SLEEP " << milliseconds << '\n'; }

void TracingSleeper::Sleep(std::uint32_t milliseconds) {
  if (trace_) trace_->Sleep(milliseconds);
  inner_.Sleep(milliseconds);
}

}  // namespace torvane
