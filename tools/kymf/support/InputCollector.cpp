#include "support/InputCollector.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "support/NameEscaping.h"

namespace fs = std::filesystem;

namespace kymf {

InputCollector::InputCollector(Reporter& output, Selection& excluded)
    : reporter(output), excludes(excluded) {}

bool InputCollector::Accept(const std::string& path, const std::string& name, std::uint64_t size) {
  if (!excludes.SelectsAll() && excludes.Selects(name)) {
    reporter.Verbose("excluded " + EscapeName(path));
    return true;
  }
  const RXM::Status refusal = RXM::kymf::CheckEntryName(name.data(), name.size(), path);
  if (!refusal.IsOk()) {
    reporter.Fail(refusal);
    return false;
  }
  inputs.push_back(Input{path, name, size});
  return true;
}

bool InputCollector::Add(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) {
    return AddFolder(path);
  }
  if (fs::is_regular_file(status)) {
    const std::uint64_t size = fs::file_size(path, error);
    if (error) {
      reporter.Fail(path, error.message());
      return false;
    }
    return Accept(path, fs::path(path).filename().generic_string(), size);
  }
  if (status.type() == fs::file_type::not_found) {
    reporter.Fail(path, RXM::Describe(RXM::ErrorCode::kNoSuchFile));
  } else {
    reporter.Fail(path, error ? error.message() : "neither a file nor a folder");
  }
  return false;
}

bool InputCollector::AddFolder(const std::string& path) {
  std::error_code error;
  std::vector<std::pair<std::string, fs::path>> found;  // entry name, path
  fs::recursive_directory_iterator walk(path, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    const fs::directory_entry& item = *walk;
    const std::string shown = item.path().generic_string();
    std::error_code itemError;
    if (item.is_directory(itemError)) {
      if (fs::is_empty(item.path(), itemError)) {
        reporter.Verbose("skipped empty folder " + EscapeName(shown));
      }
    } else if (item.is_regular_file(itemError)) {
      found.emplace_back(item.path().lexically_relative(path).generic_string(), item.path());
    } else {
      reporter.Verbose("skipped " + EscapeName(shown) + ": neither a file nor a folder");
    }
  }
  if (error) {
    reporter.Fail(path, error.message());
    return false;
  }
  std::sort(found.begin(), found.end());
  bool ok = true;
  for (const auto& [name, file] : found) {
    std::error_code sizeError;
    const std::uint64_t size = fs::file_size(file, sizeError);
    if (sizeError) {
      reporter.Fail(file.generic_string(), sizeError.message());
      ok = false;
      continue;
    }
    ok = Accept(file.string(), name, size) && ok;
  }
  return ok;
}

bool InputCollector::Rename(const std::string& name) {
  const RXM::Status refusal = RXM::kymf::CheckEntryName(name.data(), name.size(), name);
  if (!refusal.IsOk()) {
    reporter.Fail(refusal);
    return false;
  }
  inputs.at(0).name = name;
  return true;
}

std::uint64_t InputCollector::GetTotalBytes() const {
  std::uint64_t total = 0;
  for (const Input& input : inputs) {
    total += input.size;
  }
  return total;
}

}  // namespace kymf
