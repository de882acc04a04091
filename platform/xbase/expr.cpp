#include "platform/xbase/expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/xbase/cdx.h"
#include "platform/xbase/dbf.h"
#include "platform/xbase/error.h"

namespace xbase {

enum class Op {
  Field, Const, Deleted, Recno,
  Upper, Lower, RTrim, LTrim, AllTrim, Str, Dtos, Dtoc, Left, Right, Substr, Val, Iif, Space,
  Add, Sub, Mul, Div, Neg, Not, And, Or,
  Eq, ExactEq, Ne, Lt, Gt, Le, Ge, Contains,
};

class ExprNode {
 public:
  Op op = Op::Const;
  char type = 'C';
  int width = 0;
  int field = -1;
  int a = 0, b = 0;  // constant arguments (STR length/decimals, LEFT/SUBSTR counts)
  Value constant;
  std::vector<std::unique_ptr<ExprNode>> kids;

  Value Eval(const EvalContext& ctx) const;
};

namespace {

std::string RTrimS(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
std::string LTrimS(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

int CompareBytes(const std::string& x, const std::string& y) {
  size_t n = std::max(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = i < x.size() ? static_cast<unsigned char>(x[i]) : ' ';
    unsigned char b = i < y.size() ? static_cast<unsigned char>(y[i]) : ' ';
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

Value MakeC(std::string s) {
  Value v;
  v.type = 'C';
  v.s = std::move(s);
  return v;
}
Value MakeN(double n, char type = 'N') {
  Value v;
  v.type = type;
  v.n = n;
  return v;
}
Value MakeL(bool b) {
  Value v;
  v.type = 'L';
  v.b = b;
  return v;
}

}  // namespace

std::string FormatStr(double v, int len, int dec) {
  if (len <= 0) return {};
  if (dec < 0) dec = 0;
  if (!std::isfinite(v)) return std::string(static_cast<size_t>(len), '*');
  std::string s = FormatFixed(v, dec);
  if (s.size() > static_cast<size_t>(len)) {
    // Fewer decimals when the integer part still fits, as xBase does.
    size_t dot = s.find('.');
    if (dot != std::string::npos && dot <= static_cast<size_t>(len)) {
      int d = static_cast<int>(len) - static_cast<int>(dot) - 1;
      return FormatStr(v, len, std::max(0, d));
    }
    return std::string(static_cast<size_t>(len), '*');
  }
  return std::string(static_cast<size_t>(len) - s.size(), ' ') + s;
}

std::string KeyOfValue(const Value& v, int keyLen) {
  if (keyLen < 0) keyLen = 0;
  switch (v.type) {
    case 'N':
    case 'D':
      return EncodeNumericKey(v.n);
    case 'L': {
      std::string k(static_cast<size_t>(keyLen), ' ');
      if (keyLen > 0) k[0] = v.b ? 'T' : 'F';
      return k;
    }
    default: {
      std::string k = v.s.substr(0, static_cast<size_t>(keyLen));
      k.resize(static_cast<size_t>(keyLen), ' ');
      return k;
    }
  }
}

Value ExprNode::Eval(const EvalContext& ctx) const {
  switch (op) {
    case Op::Const:
      return constant;
    case Op::Field: {
      const Dbf& dbf = *ctx.dbf;
      const DbfField& f = dbf.Fields()[static_cast<size_t>(field)];
      switch (type) {
        case 'C': {
          std::string s = (f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P')
                              ? std::string()
                              : std::string(dbf.RawField(*ctx.record, field));
          s.resize(static_cast<size_t>(width), ' ');
          return MakeC(std::move(s));
        }
        case 'L': {
          std::string_view r = dbf.RawField(*ctx.record, field);
          return MakeL(!r.empty() && (r[0] == 'T' || r[0] == 't' || r[0] == 'Y' || r[0] == 'y'));
        }
        default:
          return MakeN(dbf.FieldNumber(*ctx.record, field), type);
      }
    }
    case Op::Deleted:
      return MakeL(ctx.record && Dbf::IsDeleted(*ctx.record));
    case Op::Recno:
      return MakeN(ctx.recno);
    default:
      break;
  }
  std::vector<Value> v;
  // IIF, AND and OR evaluate lazily.
  if (op == Op::Iif) {
    Value c = kids[0]->Eval(ctx);
    Value r = (c.b ? kids[1] : kids[2])->Eval(ctx);
    if (r.type == 'C') r.s.resize(static_cast<size_t>(width), ' ');
    return r;
  }
  if (op == Op::And) return MakeL(kids[0]->Eval(ctx).b && kids[1]->Eval(ctx).b);
  if (op == Op::Or) return MakeL(kids[0]->Eval(ctx).b || kids[1]->Eval(ctx).b);
  v.reserve(kids.size());
  for (const auto& k : kids) v.push_back(k->Eval(ctx));
  switch (op) {
    case Op::Upper:
    case Op::Lower: {
      std::string s = std::move(v[0].s);
      for (auto& c : s) {
        if (op == Op::Upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (op == Op::Lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      }
      return MakeC(std::move(s));
    }
    case Op::RTrim: return MakeC(RTrimS(std::move(v[0].s)));
    case Op::LTrim: return MakeC(LTrimS(v[0].s));
    case Op::AllTrim: return MakeC(LTrimS(RTrimS(std::move(v[0].s))));
    case Op::Str: return MakeC(FormatStr(v[0].n, a, b));
    case Op::Dtos: return MakeC(JulianToDateText(static_cast<long>(v[0].n)));
    case Op::Dtoc: {
      std::string s = JulianToDateText(static_cast<long>(v[0].n));
      if (s[0] == ' ') return MakeC("  /  /  ");
      return MakeC(s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2));
    }
    case Op::Left: return MakeC(v[0].s.substr(0, static_cast<size_t>(std::max(0, a))));
    case Op::Right: {
      size_t n = static_cast<size_t>(std::max(0, a));
      return MakeC(v[0].s.size() <= n ? v[0].s : v[0].s.substr(v[0].s.size() - n));
    }
    case Op::Substr: {
      size_t start = static_cast<size_t>(std::max(1, a) - 1);
      if (start >= v[0].s.size()) return MakeC("");
      return MakeC(v[0].s.substr(start, static_cast<size_t>(std::max(0, b))));
    }
    case Op::Space: return MakeC(std::string(static_cast<size_t>(std::max(0, a)), ' '));
    case Op::Val: {
      std::string t = LTrimS(v[0].s);
      double d = std::strtod(t.c_str(), nullptr);
      return MakeN(std::isfinite(d) ? d : 0);
    }
    case Op::Add:
      if (type == 'C') return MakeC(v[0].s + v[1].s);
      return MakeN(v[0].n + v[1].n, type);
    case Op::Sub:
      if (type == 'C') {
        // Trailing blanks of the left side move to the end.
        std::string l = RTrimS(v[0].s);
        size_t blanks = v[0].s.size() - l.size();
        return MakeC(l + v[1].s + std::string(blanks, ' '));
      }
      return MakeN(v[0].n - v[1].n, type);
    case Op::Mul: return MakeN(v[0].n * v[1].n);
    case Op::Div: return MakeN(v[1].n == 0 ? 0 : v[0].n / v[1].n);
    case Op::Neg: return MakeN(-v[0].n);
    case Op::Not: return MakeL(!v[0].b);
    case Op::Eq: case Op::ExactEq: case Op::Ne: case Op::Lt: case Op::Gt: case Op::Le: case Op::Ge: {
      int c;
      if (v[0].type == 'C') {
        if (op == Op::Eq || op == Op::Ne) {
          // Without exactness the right side decides how much is compared.
          const std::string& l = v[0].s;
          const std::string& r = v[1].s;
          std::string lp = l.size() >= r.size() ? l.substr(0, r.size()) : l + std::string(r.size() - l.size(), ' ');
          c = lp == r ? 0 : 1;
        } else if (op == Op::ExactEq) {
          c = RTrimS(v[0].s) == RTrimS(v[1].s) ? 0 : 1;
        } else {
          c = CompareBytes(v[0].s, v[1].s);
        }
      } else if (v[0].type == 'L') {
        c = v[0].b == v[1].b ? 0 : (v[0].b ? 1 : -1);
      } else {
        c = v[0].n < v[1].n ? -1 : v[0].n > v[1].n ? 1 : 0;
      }
      switch (op) {
        case Op::Eq: case Op::ExactEq: return MakeL(c == 0);
        case Op::Ne: return MakeL(c != 0);
        case Op::Lt: return MakeL(c < 0);
        case Op::Gt: return MakeL(c > 0);
        case Op::Le: return MakeL(c <= 0);
        default: return MakeL(c >= 0);
      }
    }
    case Op::Contains:
      return MakeL(v[1].s.find(RTrimS(v[0].s)) != std::string::npos);
    default:
      return MakeL(false);
  }
}

namespace {

enum class Tok { End, Ident, Number, String, Dot, LParen, RParen, Comma, Arrow, Plus, Minus, Star, Slash,
                 Eq, ExactEq, Ne, Lt, Gt, Le, Ge, Dollar, Bang };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifiers upper-cased; dot-words without dots
  double num = 0;
  size_t pos = 0;
};

class Parser {
 public:
  Parser(const std::string& text, const Dbf& dbf) : src_(text), dbf_(dbf) { Advance(); }

  std::unique_ptr<ExprNode> Parse() {
    auto n = ParseOr();
    if (tok_.kind != Tok::End) Fail("unexpected \"" + Rest() + "\"");
    return n;
  }
  bool usesDeleted = false;

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw XBaseError("Cannot compile the expression \"" + src_ + "\": " + why);
  }
  std::string Rest() const { return src_.substr(tok_.pos, 20); }

  void Advance() {
    size_t& i = pos_;
    while (i < src_.size() && std::isspace(static_cast<unsigned char>(src_[i]))) ++i;
    tok_ = Token();
    tok_.pos = i;
    if (i >= src_.size()) return;
    char c = src_[i];
    auto isIdStart = [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_'; };
    if (isIdStart(c)) {
      size_t s = i;
      while (i < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[i])) || src_[i] == '_')) ++i;
      tok_.kind = Tok::Ident;
      tok_.text = src_.substr(s, i - s);
      for (auto& ch : tok_.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i + 1 < src_.size() && std::isdigit(static_cast<unsigned char>(src_[i + 1])))) {
      size_t s = i;
      while (i < src_.size() && std::isdigit(static_cast<unsigned char>(src_[i]))) ++i;
      if (i < src_.size() && src_[i] == '.') {
        ++i;
        while (i < src_.size() && std::isdigit(static_cast<unsigned char>(src_[i]))) ++i;
      }
      tok_.kind = Tok::Number;
      tok_.num = std::strtod(src_.substr(s, i - s).c_str(), nullptr);
      return;
    }
    if (c == '"' || c == '\'' || c == '[') {
      char close = c == '[' ? ']' : c;
      size_t end = src_.find(close, i + 1);
      if (end == std::string::npos) Fail("a text constant is not closed");
      tok_.kind = Tok::String;
      tok_.text = src_.substr(i + 1, end - i - 1);
      i = end + 1;
      return;
    }
    if (c == '.') {
      size_t end = src_.find('.', i + 1);
      if (end != std::string::npos && end - i - 1 <= 3 && end - i - 1 >= 1) {
        std::string w = src_.substr(i + 1, end - i - 1);
        for (auto& ch : w) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (w == "AND" || w == "OR" || w == "NOT" || w == "T" || w == "F" || w == "Y" || w == "N") {
          tok_.kind = Tok::Dot;
          tok_.text = w;
          i = end + 1;
          return;
        }
      }
      Fail("unexpected \"" + Rest() + "\"");
    }
    ++i;
    auto two = [&](char next) {
      if (i < src_.size() && src_[i] == next) {
        ++i;
        return true;
      }
      return false;
    };
    switch (c) {
      case '(': tok_.kind = Tok::LParen; return;
      case ')': tok_.kind = Tok::RParen; return;
      case ',': tok_.kind = Tok::Comma; return;
      case '+': tok_.kind = Tok::Plus; return;
      case '-': tok_.kind = two('>') ? Tok::Arrow : Tok::Minus; return;
      case '*': tok_.kind = Tok::Star; return;
      case '/': tok_.kind = Tok::Slash; return;
      case '$': tok_.kind = Tok::Dollar; return;
      case '#': tok_.kind = Tok::Ne; return;
      case '=': tok_.kind = two('=') ? Tok::ExactEq : Tok::Eq; return;
      case '!': tok_.kind = two('=') ? Tok::Ne : Tok::Bang; return;
      case '<':
        if (two('>')) tok_.kind = Tok::Ne;
        else tok_.kind = two('=') ? Tok::Le : Tok::Lt;
        return;
      case '>': tok_.kind = two('=') ? Tok::Ge : Tok::Gt; return;
      default: break;
    }
    --i;
    Fail("unexpected \"" + Rest() + "\"");
  }

  bool IsDot(const char* w) const { return tok_.kind == Tok::Dot && tok_.text == w; }

  static std::unique_ptr<ExprNode> Node(Op op, char type, int width) {
    auto n = std::make_unique<ExprNode>();
    n->op = op;
    n->type = type;
    n->width = width;
    return n;
  }
  std::unique_ptr<ExprNode> Binary(Op op, std::unique_ptr<ExprNode> l, std::unique_ptr<ExprNode> r, char type,
                                   int width) {
    auto n = Node(op, type, width);
    n->kids.push_back(std::move(l));
    n->kids.push_back(std::move(r));
    return n;
  }

  void Expect(const std::unique_ptr<ExprNode>& n, const char* types, const std::string& where) {
    if (!std::strchr(types, n->type)) {
      static const char* names[] = {"text", "a number", "a date", "a logical value"};
      std::string want;
      for (const char* t = types; *t; ++t) {
        if (!want.empty()) want += " or ";
        want += names[std::string("CNDL").find(*t)];
      }
      Fail(where + " needs " + want);
    }
  }

  std::unique_ptr<ExprNode> ParseOr() {
    auto l = ParseAnd();
    while (IsDot("OR")) {
      Advance();
      auto r = ParseAnd();
      Expect(l, "L", ".OR.");
      Expect(r, "L", ".OR.");
      l = Binary(Op::Or, std::move(l), std::move(r), 'L', 1);
    }
    return l;
  }
  std::unique_ptr<ExprNode> ParseAnd() {
    auto l = ParseNot();
    while (IsDot("AND")) {
      Advance();
      auto r = ParseNot();
      Expect(l, "L", ".AND.");
      Expect(r, "L", ".AND.");
      l = Binary(Op::And, std::move(l), std::move(r), 'L', 1);
    }
    return l;
  }
  std::unique_ptr<ExprNode> ParseNot() {
    if (IsDot("NOT") || tok_.kind == Tok::Bang) {
      Advance();
      auto k = ParseNot();
      Expect(k, "L", ".NOT.");
      auto n = Node(Op::Not, 'L', 1);
      n->kids.push_back(std::move(k));
      return n;
    }
    return ParseCompare();
  }
  std::unique_ptr<ExprNode> ParseCompare() {
    auto l = ParseAdd();
    Op op;
    switch (tok_.kind) {
      case Tok::Eq: op = Op::Eq; break;
      case Tok::ExactEq: op = Op::ExactEq; break;
      case Tok::Ne: op = Op::Ne; break;
      case Tok::Lt: op = Op::Lt; break;
      case Tok::Gt: op = Op::Gt; break;
      case Tok::Le: op = Op::Le; break;
      case Tok::Ge: op = Op::Ge; break;
      case Tok::Dollar: op = Op::Contains; break;
      default: return l;
    }
    Advance();
    auto r = ParseAdd();
    if (op == Op::Contains) {
      Expect(l, "C", "$");
      Expect(r, "C", "$");
    } else if (l->type != r->type) {
      Fail("a comparison of different types");
    } else if (l->type == 'L' && op != Op::Eq && op != Op::ExactEq && op != Op::Ne) {
      Fail("logical values can only be compared for equality");
    }
    return Binary(op, std::move(l), std::move(r), 'L', 1);
  }
  std::unique_ptr<ExprNode> ParseAdd() {
    auto l = ParseMul();
    while (tok_.kind == Tok::Plus || tok_.kind == Tok::Minus) {
      bool plus = tok_.kind == Tok::Plus;
      Advance();
      auto r = ParseMul();
      char t;
      if (l->type == 'C' && r->type == 'C') t = 'C';
      else if (l->type == 'N' && r->type == 'N') t = 'N';
      else if (l->type == 'D' && r->type == 'N') t = 'D';
      else if (plus && l->type == 'N' && r->type == 'D') t = 'D';
      else if (!plus && l->type == 'D' && r->type == 'D') t = 'N';
      else Fail(std::string("\"") + (plus ? "+" : "-") + "\" on values of different types");
      int w = t == 'C' ? l->width + r->width : 8;
      l = Binary(plus ? Op::Add : Op::Sub, std::move(l), std::move(r), t, w);
    }
    return l;
  }
  std::unique_ptr<ExprNode> ParseMul() {
    auto l = ParseUnary();
    while (tok_.kind == Tok::Star || tok_.kind == Tok::Slash) {
      Op op = tok_.kind == Tok::Star ? Op::Mul : Op::Div;
      Advance();
      auto r = ParseUnary();
      Expect(l, "N", "* and /");
      Expect(r, "N", "* and /");
      l = Binary(op, std::move(l), std::move(r), 'N', 8);
    }
    return l;
  }
  std::unique_ptr<ExprNode> ParseUnary() {
    if (tok_.kind == Tok::Minus || tok_.kind == Tok::Plus) {
      bool neg = tok_.kind == Tok::Minus;
      Advance();
      auto k = ParseUnary();
      Expect(k, "N", "a sign");
      if (!neg) return k;
      if (k->op == Op::Const) {
        k->constant.n = -k->constant.n;
        return k;
      }
      auto n = Node(Op::Neg, 'N', 8);
      n->kids.push_back(std::move(k));
      return n;
    }
    return ParsePrimary();
  }

  int ConstInt(const std::unique_ptr<ExprNode>& n, const std::string& what) {
    if (n->op != Op::Const || n->type != 'N') Fail(what + " must be a number");
    double v = n->constant.n;
    if (v < 0 || v > 255 || v != std::floor(v)) Fail(what + " is out of range");
    return static_cast<int>(v);
  }

  std::vector<std::unique_ptr<ExprNode>> Args(const std::string& fn) {
    std::vector<std::unique_ptr<ExprNode>> args;
    Advance();  // (
    if (tok_.kind == Tok::RParen) {
      Advance();
      return args;
    }
    for (;;) {
      args.push_back(ParseOr());
      if (tok_.kind == Tok::Comma) {
        Advance();
        continue;
      }
      if (tok_.kind != Tok::RParen) Fail(fn + "( is not closed");
      Advance();
      return args;
    }
  }

  std::unique_ptr<ExprNode> ParsePrimary() {
    if (++depth_ > 200) Fail("too deeply nested");
    struct DepthGuard {
      int& d;
      ~DepthGuard() { --d; }
    } guard{depth_};
    switch (tok_.kind) {
      case Tok::Number: {
        auto n = Node(Op::Const, 'N', 8);
        n->constant = MakeN(tok_.num);
        Advance();
        return n;
      }
      case Tok::String: {
        auto n = Node(Op::Const, 'C', static_cast<int>(tok_.text.size()));
        n->constant = MakeC(tok_.text);
        Advance();
        return n;
      }
      case Tok::Dot: {
        if (tok_.text == "T" || tok_.text == "F" || tok_.text == "Y" || tok_.text == "N") {
          auto n = Node(Op::Const, 'L', 1);
          n->constant = MakeL(tok_.text == "T" || tok_.text == "Y");
          Advance();
          return n;
        }
        Fail("unexpected ." + tok_.text + ".");
      }
      case Tok::LParen: {
        Advance();
        auto n = ParseOr();
        if (tok_.kind != Tok::RParen) Fail("a parenthesis is not closed");
        Advance();
        return n;
      }
      case Tok::Ident:
        break;
      case Tok::End:
        Fail("the expression ends too early");
      default:
        Fail("unexpected \"" + Rest() + "\"");
    }
    std::string name = tok_.text;
    Advance();
    if (tok_.kind == Tok::LParen) return Function(name);
    if (tok_.kind == Tok::Arrow) {  // ALIAS->FIELD: the alias is this table
      Advance();
      if (tok_.kind != Tok::Ident) Fail("a field name must follow ->");
      name = tok_.text;
      Advance();
    }
    int idx = dbf_.FieldIndex(name);
    if (idx < 0) Fail("the table has no field " + name);
    const DbfField& f = dbf_.Fields()[static_cast<size_t>(idx)];
    char t;
    switch (f.type) {
      case 'N': case 'F': case 'I': case 'B': case 'Y': case 'T': t = 'N'; break;
      case 'D': t = 'D'; break;
      case 'L': t = 'L'; break;
      default: t = 'C'; break;
    }
    auto n = Node(Op::Field, t, t == 'C' ? f.len : t == 'L' ? 1 : 8);
    n->field = idx;
    n->a = f.len;
    n->b = f.dec;
    return n;
  }

  std::unique_ptr<ExprNode> Function(const std::string& fn) {
    auto args = Args(fn);
    auto count = [&](size_t lo, size_t hi) {
      if (args.size() < lo || args.size() > hi) Fail(fn + "() takes " + std::to_string(lo) +
                                                     (hi != lo ? " to " + std::to_string(hi) : "") + " arguments");
    };
    auto one = [&](Op op, const char* in, char out, int width) {
      count(1, 1);
      Expect(args[0], in, fn + "()");
      auto n = Node(op, out, width < 0 ? args[0]->width : width);
      n->kids = std::move(args);
      return n;
    };
    if (fn == "UPPER") return one(Op::Upper, "C", 'C', -1);
    if (fn == "LOWER") return one(Op::Lower, "C", 'C', -1);
    if (fn == "TRIM" || fn == "RTRIM") return one(Op::RTrim, "C", 'C', -1);
    if (fn == "LTRIM") return one(Op::LTrim, "C", 'C', -1);
    if (fn == "ALLTRIM") return one(Op::AllTrim, "C", 'C', -1);
    if (fn == "DTOS") return one(Op::Dtos, "D", 'C', 8);
    if (fn == "DTOC") return one(Op::Dtoc, "D", 'C', 8);
    if (fn == "VAL") return one(Op::Val, "C", 'N', 8);
    if (fn == "DELETED" || fn == "RECNO") {
      count(0, 0);
      if (fn == "DELETED") usesDeleted = true;
      return fn == "DELETED" ? Node(Op::Deleted, 'L', 1) : Node(Op::Recno, 'N', 8);
    }
    if (fn == "STR") {
      count(1, 3);
      Expect(args[0], "N", "STR()");
      int len = args.size() > 1 ? ConstInt(args[1], "the length of STR()") : 10;
      int dec = args.size() > 2 ? ConstInt(args[2], "the decimals of STR()") : 0;
      if (len < 1) Fail("the length of STR() must be at least 1");
      auto n = Node(Op::Str, 'C', len);
      n->a = len;
      n->b = dec;
      n->kids.push_back(std::move(args[0]));
      return n;
    }
    if (fn == "LEFT" || fn == "RIGHT") {
      count(2, 2);
      Expect(args[0], "C", fn + "()");
      int len = ConstInt(args[1], "the count of " + fn + "()");
      auto n = Node(fn == "LEFT" ? Op::Left : Op::Right, 'C', std::min(len, args[0]->width));
      n->a = len;
      n->kids.push_back(std::move(args[0]));
      return n;
    }
    if (fn == "SUBSTR") {
      count(2, 3);
      Expect(args[0], "C", "SUBSTR()");
      int start = ConstInt(args[1], "the start of SUBSTR()");
      if (start < 1) Fail("the start of SUBSTR() must be at least 1");
      int room = std::max(0, args[0]->width - start + 1);
      int len = args.size() > 2 ? ConstInt(args[2], "the length of SUBSTR()") : room;
      auto n = Node(Op::Substr, 'C', std::min(len, room));
      n->a = start;
      n->b = len;
      n->kids.push_back(std::move(args[0]));
      return n;
    }
    if (fn == "SPACE") {
      count(1, 1);
      int len = ConstInt(args[0], "the count of SPACE()");
      auto n = Node(Op::Space, 'C', len);
      n->a = len;
      return n;
    }
    if (fn == "IIF") {
      count(3, 3);
      Expect(args[0], "L", "the condition of IIF()");
      if (args[1]->type != args[2]->type) Fail("both branches of IIF() must have the same type");
      auto n = Node(Op::Iif, args[1]->type, std::max(args[1]->width, args[2]->width));
      n->kids = std::move(args);
      return n;
    }
    Fail("unknown function " + fn + "()");
  }

  std::string src_;
  const Dbf& dbf_;
  size_t pos_ = 0;
  Token tok_;
  int depth_ = 0;
};

}  // namespace

Expr::~Expr() = default;
Expr::Expr(Expr&&) noexcept = default;
Expr& Expr::operator=(Expr&&) noexcept = default;

Expr Expr::Compile(const std::string& text, const Dbf& dbf) {
  std::string trimmed = text;
  while (!trimmed.empty() && static_cast<unsigned char>(trimmed.back()) <= 32) trimmed.pop_back();
  size_t lead = 0;
  while (lead < trimmed.size() && static_cast<unsigned char>(trimmed[lead]) <= 32) ++lead;
  trimmed.erase(0, lead);
  if (trimmed.empty()) throw XBaseError("Cannot compile an empty expression");
  Parser p(trimmed, dbf);
  Expr e;
  e.text_ = trimmed;
  e.root_ = p.Parse();
  e.usesDeleted_ = p.usesDeleted;
  return e;
}

char Expr::Type() const { return root_->type; }
int Expr::Width() const { return root_->width; }

Value Expr::Eval(const EvalContext& ctx) const { return root_->Eval(ctx); }

bool Expr::IsTrue(const EvalContext& ctx) const {
  Value v = root_->Eval(ctx);
  return v.type == 'L' && v.b;
}

std::string Expr::Key(const EvalContext& ctx, int keyLen) const { return KeyOfValue(root_->Eval(ctx), keyLen); }

}  // namespace xbase
