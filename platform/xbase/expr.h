#pragma once
// Key and filter expressions of index tags: a small compiler for the xBase
// expression language that tags use (field names, + and - on texts, numbers
// and dates, comparisons, .AND./.OR./.NOT., and the usual functions), and the
// key bytes an expression gives for a record.
#include <cstdint>
#include <memory>
#include <string>

namespace xbase {

class Dbf;

// What an expression sees of one record.
struct EvalContext {
  const Dbf* dbf = nullptr;
  const std::string* record = nullptr;  // raw record bytes, deleted flag first
  uint32_t recno = 0;
};

// A value: type C (text in s), N (number in n), D (Julian day in n, 0 =
// blank) or L (b).
struct Value {
  char type = 'C';
  std::string s;
  double n = 0;
  bool b = false;
};

class ExprNode;

class Expr {
 public:
  ~Expr();
  Expr(Expr&&) noexcept;
  Expr& operator=(Expr&&) noexcept;

  // Compiles against a table's fields; raises XBaseError saying what is wrong.
  static Expr Compile(const std::string& text, const Dbf& dbf);

  const std::string& Text() const { return text_; }
  char Type() const;  // C N D L
  // Width of a character result (what the engine pads keys to); 8 for
  // numbers and dates, 1 for logicals.
  int Width() const;
  // Key length of a tag on this expression.
  int KeyLength() const { return Type() == 'C' ? Width() : Type() == 'L' ? 1 : 8; }

  Value Eval(const EvalContext& ctx) const;
  bool IsTrue(const EvalContext& ctx) const;  // for logical expressions (filters)
  // Key bytes of exactly keyLen bytes: character results padded with blanks
  // or cut, numbers and dates in the sortable 8-byte form, logicals "T"/"F".
  std::string Key(const EvalContext& ctx, int keyLen) const;
  // True when the expression's value depends on the deleted flag.
  bool UsesDeleted() const { return usesDeleted_; }

 private:
  Expr() = default;
  std::string text_;
  std::unique_ptr<ExprNode> root_;
  bool usesDeleted_ = false;
};

// Key bytes of a value (as Expr::Key does).
std::string KeyOfValue(const Value& v, int keyLen);
// xBase STR(): right-aligned in len characters with dec decimals, rounded as
// FormatFixed does (a negative value that rounds to zero stays "-0.00");
// fewer decimals when only the integer part fits, asterisks when not even
// that does.
std::string FormatStr(double v, int len, int dec);

}  // namespace xbase
