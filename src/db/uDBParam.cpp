#include "db/uDBParam.h"

#include "db/uDBConnectionParams.h"
#include "db/uDBField.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::db {

void TDBParam::Bind(TDBValue value, TDBFieldType type) {
  value_ = std::move(value);
  dataType_ = type;
  bound_ = true;
}

void TDBParam::SetAsString(std::string value) {
  Bind(std::move(value), TDBFieldType::ftString);
}

void TDBParam::SetAsSmallInt(std::int64_t value) {
  const auto low = static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
  Bind(static_cast<std::int64_t>(low), TDBFieldType::ftSmallint);
}

void TDBParam::SetAsInteger(std::int32_t value) {
  Bind(static_cast<std::int64_t>(value), TDBFieldType::ftInteger);
}

void TDBParam::SetAsLargeInt(std::int64_t value) {
  Bind(value, TDBFieldType::ftLargeint);
}

void TDBParam::SetAsFloat(double value) {
  Bind(value, TDBFieldType::ftFloat);
}

void TDBParam::SetAsDateTime(const TDBTimeStamp& value) {
  Bind(value, TDBFieldType::ftDateTime);
}

void TDBParam::SetAsBoolean(bool value) {
  Bind(value, TDBFieldType::ftBoolean);
}

void TDBParam::Clear(TDBFieldType type) {
  Bind(std::monostate{}, type);
}

void TDBParam::Unbind() {
  value_ = std::monostate{};
  bound_ = false;
  dataType_ = FieldTypeOfSqlType(declaredSqlType_);
}

void TDBParam::Declare(SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT scale) {
  declaredSqlType_ = sqlType;
  declaredSize_ = size;
  declaredScale_ = scale;
  if (!bound_) dataType_ = FieldTypeOfSqlType(sqlType);
}

namespace {
std::string_view Bare(std::string_view n) {
  while (!n.empty() && (n.front() == '@' || n.front() == ':')) n.remove_prefix(1);
  return n;
}
}  // namespace

bool TDBParams::SameParamName(std::string_view a, std::string_view b) {
  return SameName(Bare(a), Bare(b));
}

int TDBParams::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameParamName(items_[i].Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

TDBParam* TDBParams::FindParam(std::string_view name) {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &items_[static_cast<std::size_t>(i)];
}

const TDBParam* TDBParams::FindParam(std::string_view name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &items_[static_cast<std::size_t>(i)];
}

TDBParam& TDBParams::ParamByName(std::string_view name) {
  TDBParam* p = FindParam(name);
  if (p == nullptr) {
    throw diagnostics::EDatabaseError("Parâmetro '" + std::string(name) + "' não encontrado.");
  }
  return *p;
}

TDBParam& TDBParams::Add(std::string name, TDBParamType type) {
  return items_.emplace_back(std::move(name), type);
}

}  // namespace tamrix::db
