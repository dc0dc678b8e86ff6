// The file argument of RecvSO and SendProgress arrives as an automation
// Variant. Only a String counts as a path; every other kind of value gives
// the empty path.
#pragma once

#include <string>
#include <utility>

namespace tolvex {

class Variant {
 public:
  enum class Kind { Empty, Null, Number, Array, String };

  Variant() = default;
  static Variant Null() { return Variant(Kind::Null); }
  static Variant Number(double value) {
    Variant v(Kind::Number);
    v.number_ = value;
    return v;
  }
  static Variant Array() { return Variant(Kind::Array); }
  static Variant String(std::u16string text) {
    Variant v(Kind::String);
    v.text_ = std::move(text);
    return v;
  }

  Kind kind() const { return kind_; }
  bool IsString() const { return kind_ == Kind::String; }
  const std::u16string& text() const { return text_; }
  double number() const { return number_; }

 private:
  explicit Variant(Kind kind) : kind_(kind) {}
  Kind kind_ = Kind::Empty;
  double number_ = 0;
  std::u16string text_;
};

}  // namespace tolvex
