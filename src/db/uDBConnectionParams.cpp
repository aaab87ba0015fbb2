#include "db/uDBConnectionParams.h"

#include <algorithm>

namespace tamrix::db {

std::string TDBConnectionParams::Value(std::string_view name) const {
  for (const auto& [n, v] : items_) {
    if (SameName(n, name)) return v;
  }
  return {};
}

bool TDBConnectionParams::Has(std::string_view name) const {
  return std::any_of(items_.begin(), items_.end(),
                     [&](const Item& i) { return SameName(i.first, name); });
}

void TDBConnectionParams::SetValue(std::string_view name, std::string value) {
  for (auto& [n, v] : items_) {
    if (SameName(n, name)) {
      v = std::move(value);
      return;
    }
  }
  items_.emplace_back(std::string(name), std::move(value));
}

void TDBConnectionParams::Remove(std::string_view name) {
  std::erase_if(items_, [&](const Item& i) { return SameName(i.first, name); });
}

void TDBConnectionParams::AddLine(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) {
    SetValue(line, {});
  } else {
    SetValue(line.substr(0, eq), std::string(line.substr(eq + 1)));
  }
}

std::vector<std::string> TDBConnectionParams::Lines() const {
  std::vector<std::string> out;
  out.reserve(items_.size());
  for (const auto& [n, v] : items_) out.push_back(n + "=" + v);
  return out;
}

}  // namespace tamrix::db
