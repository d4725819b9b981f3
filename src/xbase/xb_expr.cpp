// Parser and evaluator of the xBase expression language (see xb_expr.h).
#include "xb_expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xb_env.h"
#include "xb_text.h"

namespace xb {

enum class Op : uint8_t {
  Const,
  Field,
  Deleted,
  Not,
  And,
  Or,
  Neg,
  Add,
  Sub,
  Mul,
  Div,
  Mod,
  Eq,
  ExactEq,
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  Contains,
  Dtos,
  Dtoc,
  Ctod,
  Upper,
  Lower,
  AllTrim,
  RTrim,
  LTrim,
  Empty,
  Date,
  Str,
  Val,
  Substr,
  Left,
  Right,
  Len,
  Iif,
};

struct ExprNode {
  Op op = Op::Const;
  Type type = Type::Logical;
  int width = 0;  // widest character result
  Value constant;
  FieldDef fieldDef;
  std::vector<std::unique_ptr<ExprNode>> args;
};

namespace {

struct ParseError {
  int code;
  std::string message;
};

enum class Tok { End, Ident, Number, String, True, False, Not, And, Or, LParen, RParen, Comma, Op };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier (upper case), string contents, operator
  double number = 0;
  size_t pos = 0;  // 0-based offset in the text
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<FieldDef>& fields) : s_(text), fields_(fields) { next(); }

  std::unique_ptr<ExprNode> parseAll() {
    if (tok_.kind == Tok::End) fail(xbExprSyntax, tok_.pos, "empty expression");
    auto n = parseOr();
    if (tok_.kind != Tok::End) fail(xbExprSyntax, tok_.pos, "unexpected '" + tokenText() + "'");
    return n;
  }

 private:
  [[noreturn]] void fail(int code, size_t pos, const std::string& what) {
    const char* kind = code == xbExprSyntax ? "syntax error" : code == xbUnknownName ? "unknown name" : "type mismatch";
    throw ParseError{code, std::string(kind) + " at position " + std::to_string(pos + 1) + ": " + what};
  }

  std::string tokenText() const {
    if (tok_.kind == Tok::End) return "end of expression";
    return std::string(s_.substr(tok_.pos, std::max<size_t>(1, pos_ - tok_.pos)));
  }

  static bool ieq(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
  }

  void next() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    tok_ = Token{};
    tok_.pos = pos_;
    if (pos_ >= s_.size()) return;
    char c = s_[pos_];
    auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
    if (c == '.' && !(pos_ + 1 < s_.size() && isDigit(s_[pos_ + 1]))) {
      size_t end = s_.find('.', pos_ + 1);
      if (end == std::string_view::npos) fail(xbExprSyntax, pos_, "unterminated '.'-word");
      std::string_view w = s_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
      if (ieq(w, "T") || ieq(w, "TRUE") || ieq(w, "Y"))
        tok_.kind = Tok::True;
      else if (ieq(w, "F") || ieq(w, "FALSE") || ieq(w, "N"))
        tok_.kind = Tok::False;
      else if (ieq(w, "NOT"))
        tok_.kind = Tok::Not;
      else if (ieq(w, "AND"))
        tok_.kind = Tok::And;
      else if (ieq(w, "OR"))
        tok_.kind = Tok::Or;
      else
        fail(xbExprSyntax, tok_.pos, "unknown operator '." + std::string(w) + ".'");
      return;
    }
    if (isDigit(c) || c == '.') {
      size_t start = pos_;
      while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
      if (pos_ < s_.size() && s_[pos_] == '.') {
        ++pos_;
        while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
      }
      tok_.kind = Tok::Number;
      tok_.number = std::strtod(std::string(s_.substr(start, pos_ - start)).c_str(), nullptr);
      return;
    }
    if (c == '"' || c == '\'' || c == '[') {
      char close = c == '[' ? ']' : c;
      size_t end = s_.find(close, pos_ + 1);
      if (end == std::string_view::npos) fail(xbExprSyntax, pos_, "string not closed");
      tok_.kind = Tok::String;
      tok_.text = std::string(s_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      tok_.kind = Tok::Ident;
      tok_.text = std::string(s_.substr(start, pos_ - start));
      for (auto& ch : tok_.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return;
    }
    ++pos_;
    switch (c) {
      case '(':
        tok_.kind = Tok::LParen;
        return;
      case ')':
        tok_.kind = Tok::RParen;
        return;
      case ',':
        tok_.kind = Tok::Comma;
        return;
      case '!':
        if (pos_ < s_.size() && s_[pos_] == '=') {
          ++pos_;
          tok_.kind = Tok::Op;
          tok_.text = "<>";
          return;
        }
        tok_.kind = Tok::Not;
        return;
      case '=':
        tok_.kind = Tok::Op;
        tok_.text = "=";
        if (pos_ < s_.size() && s_[pos_] == '=') {
          ++pos_;
          tok_.text = "==";
        }
        return;
      case '<':
        tok_.kind = Tok::Op;
        tok_.text = "<";
        if (pos_ < s_.size() && (s_[pos_] == '=' || s_[pos_] == '>')) tok_.text += s_[pos_++];
        return;
      case '>':
        tok_.kind = Tok::Op;
        tok_.text = ">";
        if (pos_ < s_.size() && s_[pos_] == '=') {
          ++pos_;
          tok_.text = ">=";
        }
        return;
      case '#':
        tok_.kind = Tok::Op;
        tok_.text = "<>";
        return;
      case '$':
      case '+':
      case '-':
      case '*':
      case '/':
      case '%':
        tok_.kind = Tok::Op;
        tok_.text = std::string(1, c);
        return;
      default:
        fail(xbExprSyntax, tok_.pos, std::string("unexpected character '") + c + "'");
    }
  }

  static std::unique_ptr<ExprNode> make(Op op, Type t, int width = 0) {
    auto n = std::make_unique<ExprNode>();
    n->op = op;
    n->type = t;
    n->width = width;
    return n;
  }

  void expectType(const ExprNode& n, Type t, size_t pos, const std::string& what) {
    if (n.type != t) fail(xbTypeMismatch, pos, what + " needs a " + typeName(t) + " value, not " + typeName(n.type));
  }

  std::unique_ptr<ExprNode> parseOr() {
    auto left = parseAnd();
    while (tok_.kind == Tok::Or) {
      size_t at = tok_.pos;
      next();
      auto right = parseAnd();
      expectType(*left, Type::Logical, at, ".or.");
      expectType(*right, Type::Logical, at, ".or.");
      auto n = make(Op::Or, Type::Logical);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<ExprNode> parseAnd() {
    auto left = parseNot();
    while (tok_.kind == Tok::And) {
      size_t at = tok_.pos;
      next();
      auto right = parseNot();
      expectType(*left, Type::Logical, at, ".and.");
      expectType(*right, Type::Logical, at, ".and.");
      auto n = make(Op::And, Type::Logical);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<ExprNode> parseNot() {
    if (tok_.kind == Tok::Not) {
      size_t at = tok_.pos;
      next();
      auto operand = parseNot();
      expectType(*operand, Type::Logical, at, ".not.");
      auto n = make(Op::Not, Type::Logical);
      n->args.push_back(std::move(operand));
      return n;
    }
    return parseCompare();
  }

  std::unique_ptr<ExprNode> parseCompare() {
    auto left = parseAdditive();
    while (tok_.kind == Tok::Op) {
      const std::string& t = tok_.text;
      Op op;
      if (t == "=")
        op = Op::Eq;
      else if (t == "==")
        op = Op::ExactEq;
      else if (t == "<>")
        op = Op::Ne;
      else if (t == "<")
        op = Op::Lt;
      else if (t == "<=")
        op = Op::Le;
      else if (t == ">")
        op = Op::Gt;
      else if (t == ">=")
        op = Op::Ge;
      else if (t == "$")
        op = Op::Contains;
      else
        break;
      size_t at = tok_.pos;
      std::string opText = t;
      next();
      auto right = parseAdditive();
      if (left->type != right->type)
        fail(xbTypeMismatch, at,
             "'" + opText + "' compares " + typeName(left->type) + " with " + typeName(right->type));
      if (op == Op::Contains) expectType(*left, Type::Char, at, "'$'");
      auto n = make(op, Type::Logical);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<ExprNode> parseAdditive() {
    auto left = parseMultiplicative();
    while (tok_.kind == Tok::Op && (tok_.text == "+" || tok_.text == "-")) {
      bool plus = tok_.text == "+";
      size_t at = tok_.pos;
      next();
      auto right = parseMultiplicative();
      Type lt = left->type, rt = right->type;
      Type result;
      int width = 0;
      if (lt == Type::Char && rt == Type::Char) {
        result = Type::Char;
        width = left->width + right->width;
      } else if (lt == Type::Numeric && rt == Type::Numeric) {
        result = Type::Numeric;
      } else if (lt == Type::Date && rt == Type::Numeric) {
        result = Type::Date;
      } else if (plus && lt == Type::Numeric && rt == Type::Date) {
        result = Type::Date;
      } else if (!plus && lt == Type::Date && rt == Type::Date) {
        result = Type::Numeric;
      } else {
        fail(xbTypeMismatch, at,
             std::string("cannot ") + (plus ? "add " : "subtract ") + typeName(rt) + (plus ? " to " : " from ") +
                 typeName(lt));
      }
      auto n = make(plus ? Op::Add : Op::Sub, result, width);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<ExprNode> parseMultiplicative() {
    auto left = parseUnary();
    while (tok_.kind == Tok::Op && (tok_.text == "*" || tok_.text == "/" || tok_.text == "%")) {
      Op op = tok_.text == "*" ? Op::Mul : tok_.text == "/" ? Op::Div : Op::Mod;
      size_t at = tok_.pos;
      next();
      auto right = parseUnary();
      expectType(*left, Type::Numeric, at, "arithmetic");
      expectType(*right, Type::Numeric, at, "arithmetic");
      auto n = make(op, Type::Numeric);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<ExprNode> parseUnary() {
    if (tok_.kind == Tok::Op && (tok_.text == "-" || tok_.text == "+")) {
      bool neg = tok_.text == "-";
      size_t at = tok_.pos;
      next();
      auto operand = parseUnary();
      expectType(*operand, Type::Numeric, at, "sign");
      if (!neg) return operand;
      auto n = make(Op::Neg, Type::Numeric);
      n->args.push_back(std::move(operand));
      return n;
    }
    return parsePrimary();
  }

  std::unique_ptr<ExprNode> parsePrimary() {
    Token t = tok_;
    switch (t.kind) {
      case Tok::Number: {
        next();
        auto n = make(Op::Const, Type::Numeric);
        n->constant = Value::number(t.number);
        return n;
      }
      case Tok::String: {
        next();
        auto n = make(Op::Const, Type::Char, static_cast<int>(t.text.size()));
        n->constant = Value::character(t.text);
        return n;
      }
      case Tok::True:
      case Tok::False: {
        next();
        auto n = make(Op::Const, Type::Logical, 1);
        n->constant = Value::logical(t.kind == Tok::True);
        return n;
      }
      case Tok::LParen: {
        next();
        auto n = parseOr();
        if (tok_.kind != Tok::RParen) fail(xbExprSyntax, tok_.pos, "expected ')' instead of " + tokenText());
        next();
        return n;
      }
      case Tok::Ident: {
        next();
        if (tok_.kind == Tok::LParen) return parseCall(t);
        for (const auto& f : fields_) {
          if (f.name == t.text) {
            Type ft = f.type == 'D'   ? Type::Date
                      : f.type == 'L' ? Type::Logical
                      : f.type == 'N' ? Type::Numeric
                                      : Type::Char;
            auto n = make(Op::Field, ft, f.type == 'C' ? f.width : 0);
            n->fieldDef = f;
            return n;
          }
        }
        fail(xbUnknownName, t.pos, "no field '" + t.text + "'");
      }
      case Tok::End:
        fail(xbExprSyntax, t.pos, "expression ends too early");
      default:
        fail(xbExprSyntax, t.pos, "unexpected " + tokenText());
    }
  }

  struct FnSpec {
    const char* name;
    Op op;
    int minArgs, maxArgs;
    Type result;
    Type argTypes[3];
  };

  std::unique_ptr<ExprNode> parseCall(const Token& name) {
    static const FnSpec fns[] = {
        {"DTOS", Op::Dtos, 1, 1, Type::Char, {Type::Date}},
        {"DTOC", Op::Dtoc, 1, 1, Type::Char, {Type::Date}},
        {"CTOD", Op::Ctod, 1, 1, Type::Date, {Type::Char}},
        {"UPPER", Op::Upper, 1, 1, Type::Char, {Type::Char}},
        {"LOWER", Op::Lower, 1, 1, Type::Char, {Type::Char}},
        {"ALLTRIM", Op::AllTrim, 1, 1, Type::Char, {Type::Char}},
        {"TRIM", Op::RTrim, 1, 1, Type::Char, {Type::Char}},
        {"RTRIM", Op::RTrim, 1, 1, Type::Char, {Type::Char}},
        {"LTRIM", Op::LTrim, 1, 1, Type::Char, {Type::Char}},
        {"EMPTY", Op::Empty, 1, 1, Type::Logical, {}},
        {"DELETED", Op::Deleted, 0, 0, Type::Logical, {}},
        {"DATE", Op::Date, 0, 0, Type::Date, {}},
        {"STR", Op::Str, 1, 3, Type::Char, {Type::Numeric, Type::Numeric, Type::Numeric}},
        {"VAL", Op::Val, 1, 1, Type::Numeric, {Type::Char}},
        {"SUBSTR", Op::Substr, 2, 3, Type::Char, {Type::Char, Type::Numeric, Type::Numeric}},
        {"LEFT", Op::Left, 2, 2, Type::Char, {Type::Char, Type::Numeric}},
        {"RIGHT", Op::Right, 2, 2, Type::Char, {Type::Char, Type::Numeric}},
        {"LEN", Op::Len, 1, 1, Type::Numeric, {Type::Char}},
        {"IIF", Op::Iif, 3, 3, Type::Logical, {Type::Logical}},
    };
    const FnSpec* fn = nullptr;
    for (const auto& f : fns)
      if (name.text == f.name) fn = &f;
    if (!fn) fail(xbUnknownName, name.pos, "no function '" + name.text + "'");
    next();  // '('
    auto n = make(fn->op, fn->result);
    std::vector<size_t> argPos;
    if (tok_.kind != Tok::RParen) {
      for (;;) {
        argPos.push_back(tok_.pos);
        n->args.push_back(parseOr());
        if (tok_.kind == Tok::Comma) {
          next();
          continue;
        }
        break;
      }
    }
    if (tok_.kind != Tok::RParen) fail(xbExprSyntax, tok_.pos, "expected ')' or ',' instead of " + tokenText());
    next();
    int count = static_cast<int>(n->args.size());
    if (count < fn->minArgs || count > fn->maxArgs)
      fail(xbExprSyntax, name.pos,
           name.text + "() takes " + std::to_string(fn->minArgs) +
               (fn->maxArgs != fn->minArgs ? " to " + std::to_string(fn->maxArgs) : "") + " argument(s), not " +
               std::to_string(count));
    for (int i = 0; i < count && fn->op != Op::Empty; ++i) {
      if (fn->op == Op::Iif && i > 0) break;
      expectType(*n->args[i], fn->argTypes[i], argPos[i], name.text + "()");
    }
    auto constArg = [&](int i, int fallback) {
      if (i < count && n->args[i]->op == Op::Const) return std::max(0, static_cast<int>(n->args[i]->constant.n));
      return fallback;
    };
    switch (fn->op) {
      case Op::Dtos:
        n->width = 8;
        break;
      case Op::Dtoc:
        n->width = 10;
        break;
      case Op::Upper:
      case Op::Lower:
      case Op::AllTrim:
      case Op::RTrim:
      case Op::LTrim:
        n->width = n->args[0]->width;
        break;
      case Op::Str:
        n->width = constArg(1, 10);
        break;
      case Op::Substr: {
        int w = n->args[0]->width;
        int start = constArg(1, 1);
        n->width = count > 2 ? std::min(constArg(2, w), std::max(0, w - std::max(start, 1) + 1))
                             : std::max(0, w - std::max(start, 1) + 1);
        if (n->args[1]->op != Op::Const && count <= 2) n->width = w;
        break;
      }
      case Op::Left:
      case Op::Right:
        n->width = std::min(n->args[0]->width, constArg(1, n->args[0]->width));
        break;
      case Op::Iif:
        if (n->args[1]->type != n->args[2]->type)
          fail(xbTypeMismatch, argPos[2],
               "IIF() branches differ: " + std::string(typeName(n->args[1]->type)) + " and " +
                   typeName(n->args[2]->type));
        n->type = n->args[1]->type;
        n->width = std::max(n->args[1]->width, n->args[2]->width);
        break;
      default:
        break;
    }
    return n;
  }

  std::string_view s_;
  const std::vector<FieldDef>& fields_;
  size_t pos_ = 0;
  Token tok_;
};

// ---- evaluation ----------------------------------------------------------------

void readField(const FieldDef& f, const uint8_t* rec, Value& out) {
  const char* p = reinterpret_cast<const char*>(rec + f.offset);
  switch (f.type) {
    case 'D':
      out.type = Type::Date;
      out.date = julianFromDtos(std::string_view(p, std::min(f.width, 8)));
      return;
    case 'L':
      out.type = Type::Logical;
      out.b = p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y';
      return;
    case 'N':
    case 'F': {
      out.type = Type::Numeric;
      char buf[64];
      int w = std::min(f.width, 63);
      std::memcpy(buf, p, w);
      buf[w] = 0;
      out.n = std::strtod(buf, nullptr);
      return;
    }
    default:
      out.type = Type::Char;
      textFromBytes(std::string_view(p, static_cast<size_t>(f.width)), out.s);
      return;
  }
}

bool isBlank(std::string_view s) {
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0') return false;
  return true;
}

// xBase character comparison: with exact off the left value is cut to the
// right value's length; the shorter value counts as padded with blanks.
int compareChar(std::string_view a, std::string_view b, bool exact) {
  if (!exact && a.size() > b.size()) a = a.substr(0, b.size());
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int compareValues(const Value& a, const Value& b) {
  switch (a.type) {
    case Type::Char:
      return compareChar(a.s, b.s, env().exact);
    case Type::Numeric:
      return a.n < b.n ? -1 : a.n > b.n ? 1 : 0;
    case Type::Date:
      return a.date < b.date ? -1 : a.date > b.date ? 1 : 0;
    case Type::Logical:
      return static_cast<int>(a.b) - static_cast<int>(b.b);
  }
  return 0;
}

std::string formatStr(double v, int len, int dec) {
  if (len <= 0) return "";
  if (len > 255) len = 255;
  if (dec < 0) dec = 0;
  if (dec > 0 && dec > len - 2) dec = std::max(0, len - 2);
  char buf[512];
  if (!std::isfinite(v)) return std::string(len, '*');
  std::snprintf(buf, sizeof buf, "%*.*f", len, dec, v);
  std::string s(buf);
  if (static_cast<int>(s.size()) > len) return std::string(len, '*');
  return s;
}

void evalNode(const ExprNode& n, const uint8_t* rec, Value& out);

void evalChild(const ExprNode& n, int i, const uint8_t* rec, Value& out) {
  evalNode(*n.args[i], rec, out);
}

void evalNode(const ExprNode& n, const uint8_t* rec, Value& out) {
  switch (n.op) {
    case Op::Const:
      out = n.constant;
      return;
    case Op::Field:
      readField(n.fieldDef, rec, out);
      return;
    case Op::Deleted:
      out.type = Type::Logical;
      out.b = rec && rec[0] == '*';
      return;
    case Op::Not:
      evalChild(n, 0, rec, out);
      out.b = !out.b;
      return;
    case Op::And:
      evalChild(n, 0, rec, out);
      if (out.b) evalChild(n, 1, rec, out);
      return;
    case Op::Or:
      evalChild(n, 0, rec, out);
      if (!out.b) evalChild(n, 1, rec, out);
      return;
    case Op::Neg:
      evalChild(n, 0, rec, out);
      out.n = -out.n;
      return;
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Mod: {
      Value r;
      evalChild(n, 0, rec, out);
      evalChild(n, 1, rec, r);
      if (out.type == Type::Char) {
        if (n.op == Op::Add) {
          out.s += r.s;
        } else {  // "-": trailing blanks of the left value move to the end
          size_t end = out.s.find_last_not_of(' ');
          size_t blanks = end == std::string::npos ? out.s.size() : out.s.size() - end - 1;
          out.s.resize(out.s.size() - blanks);
          out.s += r.s;
          out.s.append(blanks, ' ');
        }
        return;
      }
      if (out.type == Type::Date && r.type == Type::Date) {  // date - date
        double days = (out.date && r.date) ? out.date - r.date : 0;
        out = Value::number(days);
        return;
      }
      if (out.type == Type::Date || r.type == Type::Date) {  // date +/- days
        int32_t base = out.type == Type::Date ? out.date : r.date;
        double days = out.type == Type::Date ? r.n : out.n;
        if (n.op == Op::Sub) days = -days;
        int32_t result = base ? static_cast<int32_t>(base + std::llround(std::clamp(days, -4e6, 4e6))) : 0;
        out = Value::dateValue(result > 0 ? result : 0);
        return;
      }
      switch (n.op) {
        case Op::Add:
          out.n += r.n;
          break;
        case Op::Sub:
          out.n -= r.n;
          break;
        case Op::Mul:
          out.n *= r.n;
          break;
        case Op::Div:
          out.n = r.n == 0 ? 0 : out.n / r.n;
          break;
        default:
          out.n = r.n == 0 ? 0 : std::fmod(out.n, r.n);
          break;
      }
      return;
    }
    case Op::Eq:
    case Op::ExactEq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge:
    case Op::Contains: {
      Value a, b;
      evalChild(n, 0, rec, a);
      evalChild(n, 1, rec, b);
      bool result;
      if (n.op == Op::Contains) {
        result = !a.s.empty() && b.s.find(a.s) != std::string::npos;
      } else if (n.op == Op::ExactEq) {
        result = a.type == Type::Char ? a.s == b.s : compareValues(a, b) == 0;
      } else {
        int c = compareValues(a, b);
        switch (n.op) {
          case Op::Eq:
            result = c == 0;
            break;
          case Op::Ne:
            result = c != 0;
            break;
          case Op::Lt:
            result = c < 0;
            break;
          case Op::Le:
            result = c <= 0;
            break;
          case Op::Gt:
            result = c > 0;
            break;
          default:
            result = c >= 0;
            break;
        }
      }
      out.type = Type::Logical;
      out.b = result;
      return;
    }
    case Op::Dtos: {
      evalChild(n, 0, rec, out);
      int32_t d = out.date;
      out.type = Type::Char;
      out.s = dtosFromJulian(d);
      return;
    }
    case Op::Dtoc: {
      evalChild(n, 0, rec, out);
      int32_t d = out.date;
      out.type = Type::Char;
      out.s = dtoc(d, env().century);
      return;
    }
    case Op::Ctod: {
      evalChild(n, 0, rec, out);
      int32_t d = ctod(out.s);
      out.type = Type::Date;
      out.date = d;
      return;
    }
    case Op::Upper:
    case Op::Lower: {
      evalChild(n, 0, rec, out);
      if (n.op == Op::Upper)
        upperInPlace(out.s);
      else
        lowerInPlace(out.s);
      return;
    }
    case Op::AllTrim:
    case Op::RTrim:
    case Op::LTrim: {
      evalChild(n, 0, rec, out);
      if (n.op != Op::LTrim) {
        size_t end = out.s.find_last_not_of(' ');
        out.s.resize(end == std::string::npos ? 0 : end + 1);
      }
      if (n.op != Op::RTrim) {
        size_t start = out.s.find_first_not_of(' ');
        out.s.erase(0, start == std::string::npos ? out.s.size() : start);
      }
      return;
    }
    case Op::Empty: {
      evalChild(n, 0, rec, out);
      bool e = false;
      switch (out.type) {
        case Type::Char:
          e = isBlank(out.s);
          break;
        case Type::Numeric:
          e = out.n == 0;
          break;
        case Type::Date:
          e = out.date == 0;
          break;
        case Type::Logical:
          e = !out.b;
          break;
      }
      out = Value::logical(e);
      return;
    }
    case Op::Date:
      out = Value::dateValue(today());
      return;
    case Op::Str: {
      Value len, dec;
      evalChild(n, 0, rec, out);
      int l = 10, d = 0;
      if (n.args.size() > 1) {
        evalChild(n, 1, rec, len);
        l = static_cast<int>(std::clamp(len.n, 0.0, 255.0));
      }
      if (n.args.size() > 2) {
        evalChild(n, 2, rec, dec);
        d = static_cast<int>(std::clamp(dec.n, 0.0, 255.0));
      }
      double v = out.n;
      out.type = Type::Char;
      out.s = formatStr(v, l, d);
      return;
    }
    case Op::Val: {
      evalChild(n, 0, rec, out);
      double v = std::strtod(out.s.c_str(), nullptr);
      out = Value::number(std::isfinite(v) ? v : 0);
      return;
    }
    case Op::Substr:
    case Op::Left:
    case Op::Right: {
      Value a, b;
      evalChild(n, 0, rec, out);
      evalChild(n, 1, rec, a);
      double size = static_cast<double>(out.s.size());
      if (n.op == Op::Left) {
        out.s.resize(static_cast<size_t>(std::clamp(a.n, 0.0, size)));
      } else if (n.op == Op::Right) {
        size_t k = static_cast<size_t>(std::clamp(a.n, 0.0, size));
        out.s.erase(0, out.s.size() - k);
      } else {
        double start = std::clamp(a.n, 1.0, size + 1) - 1;
        double len = size - start;
        if (n.args.size() > 2) {
          evalChild(n, 2, rec, b);
          len = std::clamp(b.n, 0.0, len);
        }
        out.s = out.s.substr(static_cast<size_t>(start), static_cast<size_t>(len));
      }
      return;
    }
    case Op::Len: {
      evalChild(n, 0, rec, out);
      out = Value::number(static_cast<double>(out.s.size()));
      return;
    }
    case Op::Iif: {
      evalChild(n, 0, rec, out);
      evalChild(n, out.b ? 1 : 2, rec, out);
      return;
    }
  }
}

}  // namespace

Value fieldValue(const FieldDef& field, const uint8_t* record) {
  Value v;
  readField(field, record, v);
  return v;
}

Expr::Expr() = default;
Expr::~Expr() = default;
Expr::Expr(Expr&&) noexcept = default;
Expr& Expr::operator=(Expr&&) noexcept = default;

int Expr::compile(std::string_view text, const std::vector<FieldDef>& fields, Expr& out, std::string& error) {
  out.root_.reset();
  out.text_ = std::string(text);
  try {
    Parser p(text, fields);
    out.root_ = p.parseAll();
  } catch (const ParseError& e) {
    error = e.message;
    return -e.code;
  }
  return 0;
}

Type Expr::type() const {
  return root_ ? root_->type : Type::Logical;
}

int Expr::keyWidth() const {
  if (!root_) return 0;
  switch (root_->type) {
    case Type::Char:
      return root_->width;
    case Type::Logical:
      return 1;
    default:
      return 8;
  }
}

Value Expr::eval(const uint8_t* record) const {
  Value v;
  if (root_) evalNode(*root_, record, v);
  return v;
}

bool Expr::evalLogical(const uint8_t* record) const {
  if (!root_ || root_->type != Type::Logical) return false;
  Value v;
  evalNode(*root_, record, v);
  return v.b;
}

}  // namespace xb
