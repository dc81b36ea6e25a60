#include "support/Reporter.h"

#include "support/NameEscaping.h"
#include "support/Progress.h"

namespace kymf {

Reporter::Reporter(std::FILE* errorStream, std::FILE* infoStream)
    : errors(errorStream), info(infoStream) {}

void Reporter::Fail(const std::string& file, const std::string& reason) {
  Progress::Interrupt();
  (void)std::fprintf(errors, "kymf: %s: %s\n", EscapeName(file).c_str(), reason.c_str());
  ++failures;
}

void Reporter::Fail(const RXM::Status& status) {
  Progress::Interrupt();
  (void)std::fprintf(errors, "kymf: %s\n", EscapeName(status.GetText()).c_str());
  ++failures;
}

std::string SystemReason(int error) {
  std::string text = RXM::SystemReason(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

void Reporter::FailSystem(const std::string& file, int error) {
  Fail(file, SystemReason(error));
}

void Reporter::Usage(const std::string& text) {
  Progress::Interrupt();
  (void)std::fprintf(errors, "kymf: %s (kymf --help tells more)\n", text.c_str());
}

void Reporter::Warn(const std::string& file, const std::string& reason) {
  Progress::Interrupt();
  (void)std::fprintf(errors, "kymf: %s: %s\n", EscapeName(file).c_str(), reason.c_str());
}

void Reporter::Verbose(const std::string& text) {
  if (IsVerbose()) {
    Progress::Interrupt();
    (void)std::fprintf(info, "%s\n", text.c_str());
  }
}

void Reporter::Summary(const char* verb, std::int64_t entries, std::uint64_t bytes) {
  if (!quiet) {
    (void)std::fprintf(info, "%s %lld %s, %llu bytes\n", verb, static_cast<long long>(entries),
                       entries == 1 ? "entry" : "entries", static_cast<unsigned long long>(bytes));
  }
}

}  // namespace kymf
