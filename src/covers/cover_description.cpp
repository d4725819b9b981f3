#include "cover_description.h"

#include <cctype>
#include <charconv>
#include <map>

namespace covers {

namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool Tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') break;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token t;
    if (c == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\' && i < line.size()) d = line[i++];
        t.text.push_back(d);
      }
      if (!closed) {
        error = "unterminated text";
        return false;
      }
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != '#')
        t.text.push_back(line[i++]);
    }
    out.push_back(std::move(t));
  }
  return true;
}

bool Number(const Token& t, long long& v) {
  if (t.quoted) return false;
  const char* end = t.text.data() + t.text.size();
  auto [p, ec] = std::from_chars(t.text.data(), end, v);
  return ec == std::errc() && p == end;
}

struct FontSpec {
  std::string name = "Arial";
  int points = 10;
  bool bold = false, italic = false, underline = false;
};

const std::map<std::string, int> kFieldKinds = {{"date", cfDate},
                                                {"time", cfTime},
                                                {"regarding", cfRegarding},
                                                {"recipient", cfRecipient},
                                                {"recipientfax", cfRecipientFax},
                                                {"sender", cfSender},
                                                {"company", cfSenderCompany},
                                                {"senderfax", cfSenderFax},
                                                {"sendervoice", cfSenderVoice}};
const std::map<std::string, int> kShapes = {{"rect", stRectangle},      {"square", stSquare},
                                            {"roundrect", stRoundRect}, {"roundsquare", stRoundSquare},
                                            {"ellipse", stEllipse},     {"circle", stCircle}};
const std::map<std::string, int> kLineStyles = {
    {"horizontal", stHorizontal}, {"vertical", stVertical}, {"up", stAngleSlopingUp}, {"down", stAngleSlopingDown}};
const std::map<std::string, int> kFills = {
    {"none", sftTransparent}, {"white", sftFilledWhite}, {"black", sftFilledBlack}};

class LineCompiler {
 public:
  LineCompiler(const std::vector<Token>& tokens, FontSpec& font, std::string& error)
      : t_(tokens), font_(font), error_(error) {}

  bool Font(std::size_t& i, FontSpec& f) {
    long long points = 0;
    if (i + 1 >= t_.size() || !t_[i].quoted || !Number(t_[i + 1], points) || points <= 0 || points > 500)
      return Fail("font needs a quoted name and a size in points");
    f = FontSpec{t_[i].text, static_cast<int>(points)};
    i += 2;
    while (i < t_.size() && !t_[i].quoted) {
      if (t_[i].text == "bold")
        f.bold = true;
      else if (t_[i].text == "italic")
        f.italic = true;
      else if (t_[i].text == "underline")
        f.underline = true;
      else
        break;
      ++i;
    }
    return true;
  }

  bool Object(TemplateRecord& r) {
    const std::string& kind = t_[0].text;
    long long box[4];
    if (t_.size() < 5) return Fail(kind + " needs X Y W H");
    for (int k = 0; k < 4; ++k)
      if (!Number(t_[1 + k], box[k]) || box[k] < -10000 || box[k] > 10000) return Fail("X Y W H must be numbers");
    r.left = PixelsToFaxUnits(box[0], kDesignPixelsPerInch);
    r.top = PixelsToFaxUnits(box[1], kDesignPixelsPerInch);
    r.width = PixelsToFaxUnits(box[2], kDesignPixelsPerInch);
    r.height = PixelsToFaxUnits(box[3], kDesignPixelsPerInch);
    std::size_t i = 5;
    if (kind == "text" || kind == "symbol" || kind == "field" || kind == "importance" || kind == "message") {
      r.kind = kind == "text"         ? okText
               : kind == "symbol"     ? okSymbol
               : kind == "field"      ? okField
               : kind == "importance" ? okImportance
                                      : okMessage;
      if (r.kind == okText || r.kind == okSymbol) {
        if (i >= t_.size() || !t_[i].quoted) return Fail(kind + " needs its text in quotes");
        r.caption = t_[i++].text;
      }
      if (r.kind == okField) {
        auto it = i < t_.size() ? kFieldKinds.find(t_[i].text) : kFieldKinds.end();
        if (it == kFieldKinds.end()) return Fail("unknown field kind");
        r.fieldKind = it->second;
        ++i;
      }
      FontSpec f = font_;
      if (i < t_.size() && t_[i].text == "font" && !t_[i].quoted) {
        ++i;
        if (!Font(i, f)) return false;
      }
      r.fontName = f.name;
      r.fontSize = f.points * 2;
      r.bold = f.bold;
      r.italic = f.italic;
      r.underline = f.underline;
    } else if (auto shape = kShapes.find(kind); shape != kShapes.end()) {
      r.kind = okShape;
      r.shapeType = shape->second;
      r.fillType = sftTransparent;
      r.penWidth = 2;
      r.roundPerc = 25;
    } else if (kind == "line") {
      r.kind = okLine;
      r.lineStyle = stHorizontal;
      r.penWidth = 2;
    } else {
      return Fail("unknown object \"" + kind + "\"");
    }
    while (i < t_.size()) {
      const std::string& key = t_[i].text;
      long long v = 0;
      if (r.kind == okLine && kLineStyles.count(key)) {
        r.lineStyle = kLineStyles.at(key);
        ++i;
      } else if ((r.kind == okLine || r.kind == okShape) && key == "pen" && i + 1 < t_.size() && Number(t_[i + 1], v) &&
                 v >= 1 && v <= 10) {
        r.penWidth = static_cast<int>(v) * 2;
        i += 2;
      } else if (r.kind == okShape && key == "fill" && i + 1 < t_.size() && kFills.count(t_[i + 1].text)) {
        r.fillType = kFills.at(t_[i + 1].text);
        i += 2;
      } else if (r.kind == okShape && key == "round" && i + 1 < t_.size() && Number(t_[i + 1], v) && v >= 0 &&
                 v <= 100) {
        r.roundPerc = static_cast<int>(v);
        i += 2;
      } else {
        return Fail("unexpected \"" + key + "\"");
      }
    }
    return true;
  }

  bool Fail(const std::string& text) {
    error_ = text;
    return false;
  }

 private:
  const std::vector<Token>& t_;
  FontSpec& font_;
  std::string& error_;
};

}  // namespace

bool CompileCoverDescription(std::string_view text, CoverDescription& out, std::string& error) {
  out = {};
  FontSpec font;
  int lineNo = 0;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<Token> tokens;
    std::string why;
    bool ok = Tokenize(line, tokens, why);
    if (ok && !tokens.empty()) {
      LineCompiler c(tokens, font, why);
      if (tokens[0].text == "description" && !tokens[0].quoted) {
        const std::size_t at = line.find("description") + 11;
        std::string_view rest = line.substr(at);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
        out.description = std::string(rest);
      } else if (tokens[0].text == "font" && !tokens[0].quoted) {
        std::size_t i = 1;
        ok = c.Font(i, font) && (i == tokens.size() || c.Fail("unexpected text after the font"));
      } else {
        TemplateRecord r;
        ok = c.Object(r);
        if (ok) out.records.push_back(std::move(r));
      }
    }
    if (!ok) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace covers
