#include "velmora/host/form_stream.h"

#include <memory>
#include <vector>

#include "velmora/host/exception.h"
#include "velmora/host/properties.h"
#include "velmora/host/registry.h"
#include "velmora/host/streams.h"
#include "velmora/host/text.h"

namespace velmora::host {

namespace {

bool IdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IdentChar(char c) {
  return IdentStart(c) || (c >= '0' && c <= '9');
}
bool Digit(char c) {
  return c >= '0' && c <= '9';
}

// Splits the text form into tokens as it is read.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  enum Kind { End, Ident, Number, String, Symbol };
  struct Token {
    Kind kind = End;
    std::string text;  // Ident, Number, Symbol: as written; String: the bytes
    int line = 1;
  };

  Token Next() {
    SkipBlanks();
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (IdentStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && (IdentChar(text_[pos_]) || text_[pos_] == '.')) ++pos_;
      t.kind = Ident;
      t.text = std::string(text_.substr(start, pos_ - start));
    } else if (Digit(c) ||
               ((c == '-' || c == '+') && pos_ + 1 < text_.size() && Digit(text_[pos_ + 1]))) {
      size_t start = pos_++;
      while (pos_ < text_.size() && Digit(text_[pos_])) ++pos_;
      t.kind = Number;
      t.text = std::string(text_.substr(start, pos_ - start));
    } else if (c == '\'' || c == '#') {
      t.kind = String;
      ReadString(t.text);
    } else {
      ++pos_;
      t.kind = Symbol;
      t.text = std::string(1, c);
    }
    return t;
  }

  int line() const { return line_; }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++pos_;
    }
  }

  // 'quoted'#13#10'pieces', possibly joined by '+' across lines.
  void ReadString(std::string& out) {
    while (true) {
      if (pos_ < text_.size() && text_[pos_] == '\'') {
        ++pos_;
        while (true) {
          if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r') {
            throw EReadError("Line " + std::to_string(line_) + ": Unterminated string");
          }
          if (text_[pos_] == '\'') {
            if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
              out += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          out += text_[pos_++];
        }
      } else if (pos_ < text_.size() && text_[pos_] == '#') {
        ++pos_;
        size_t start = pos_;
        int code = 0;
        while (pos_ < text_.size() && Digit(text_[pos_]) && pos_ - start < 4) {
          code = code * 10 + (text_[pos_++] - '0');
        }
        if (pos_ == start || code > 255) {
          throw EReadError("Line " + std::to_string(line_) + ": Invalid character code");
        }
        out += static_cast<char>(code);
      } else {
        // A '+' joins the next piece, possibly on the next line.
        size_t save = pos_;
        int save_line = line_;
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == '+') {
          ++pos_;
          SkipBlanks();
          if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) continue;
          throw EReadError("Line " + std::to_string(line_) + ": String expected");
        }
        pos_ = save;
        line_ = save_line;
        return;
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

class Reader {
 public:
  explicit Reader(std::string_view text) : lex_(text) { Advance(); }

  TComponent* ReadRoot(TComponent* owner) {
    std::unique_ptr<TComponent> root = ReadObject(owner);
    if (tok_.kind != Lexer::End) Fail("End of text expected after 'end'");
    return root.release();
  }

 private:
  using Token = Lexer::Token;

  void Advance() { tok_ = lex_.Next(); }

  [[noreturn]] void Fail(const std::string& what) {
    throw EReadError("Line " + std::to_string(tok_.line) + ": " + what);
  }

  bool IsKeyword(const char* word) const {
    return tok_.kind == Lexer::Ident && SameText(tok_.text, word);
  }

  std::string ExpectIdent(const char* what) {
    if (tok_.kind != Lexer::Ident) Fail(std::string(what) + " expected");
    std::string s = tok_.text;
    Advance();
    return s;
  }

  // object [Name ":"] Class  properties...  nested objects...  end
  std::unique_ptr<TComponent> ReadObject(TComponent* owner) {
    if (!IsKeyword("object")) Fail("'object' expected");
    Advance();
    std::string first = ExpectIdent("Component name");
    std::string name, class_name;
    if (tok_.kind == Lexer::Symbol && tok_.text == ":") {
      Advance();
      name = first;
      class_name = ExpectIdent("Class name");
    } else {
      class_name = first;
    }
    ComponentFactory factory = GetClass(class_name);
    if (!factory) throw EClassNotFound("Class " + class_name + " not found");
    std::unique_ptr<TComponent> created(factory(owner));
    if (!created) throw EReadError("Class " + class_name + " could not be created");
    TComponent& c = *created;
    c.SetStateFlags(csLoading | csReading);
    const std::string label = name.empty() ? class_name : name;

    while (!IsKeyword("end")) {
      if (tok_.kind == Lexer::End) Fail("'end' expected");
      if (IsKeyword("object")) {
        ReadObject(&c).release();  // owned by c from now on
        continue;
      }
      ReadProperty(c, label);
    }
    Advance();  // end
    c.ClearStateFlags(csReading);
    try {
      c.set_Name(name);
    } catch (const Exception& e) {
      throw EReadError("Error reading " + label + ": " + e.what());
    }
    c.Loaded();
    return created;
  }

  void ReadProperty(TComponent& c, const std::string& label) {
    int line = tok_.line;
    std::string prop_name = ExpectIdent("Property name");
    if (!(tok_.kind == Lexer::Symbol && tok_.text == "=")) Fail("'=' expected");
    Advance();
    Token value = tok_;
    if (value.kind != Lexer::Ident && value.kind != Lexer::Number && value.kind != Lexer::String) {
      Fail("Property value expected for " + label + "." + prop_name);
    }
    Advance();
    const PropInfo* prop = FindProperty(c, prop_name);
    auto where = "Line " + std::to_string(line) + ": Error reading " + label + "." + prop_name;
    if (!prop) throw EReadError(where + ": Property " + prop_name + " does not exist");
    bool is_string = prop->kind == TypeKind::String;
    if (is_string != (value.kind == Lexer::String)) {
      throw EReadError(where + ": Invalid property value " + value.text);
    }
    try {
      SetPropText(c, *prop, value.text);
    } catch (const std::exception& e) {
      throw EReadError(where + ": " + e.what());
    }
  }

  Lexer lex_;
  Token tok_;
};

void WriteObject(std::string& out, const TComponent& c, int indent) {
  std::string pad(static_cast<size_t>(indent) * 2, ' ');
  out += pad + "object ";
  if (!c.Name().empty()) out += c.Name() + ": ";
  out += c.ClassName() + "\n";
  for (const PropInfo& p : c.PublishedProperties()) {
    std::string text = GetPropText(c, p);
    if (p.stream_default && text == *p.stream_default) continue;
    out += pad + "  " + p.name + " = ";
    out += p.kind == TypeKind::String ? QuoteFormString(text) : text;
    out += '\n';
  }
  out += pad + "end\n";
}

}  // namespace

std::string QuoteFormString(std::string_view bytes) {
  if (bytes.empty()) return "''";
  std::string out;
  bool open = false;
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b < 0x7F) {
      if (!open) out += '\'';
      open = true;
      out += ch;
      if (ch == '\'') out += '\'';
    } else {
      if (open) out += '\'';
      open = false;
      out += '#';
      out += std::to_string(b);
    }
  }
  if (open) out += '\'';
  return out;
}

bool UnquoteFormString(std::string_view text, std::string& bytes) {
  try {
    Lexer lex(text);
    Lexer::Token t = lex.Next();
    if (t.kind != Lexer::String || lex.Next().kind != Lexer::End) return false;
    bytes = t.text;
    return true;
  } catch (const Exception&) {
    return false;
  }
}

std::string ComponentToText(const TComponent& component) {
  std::string out;
  auto& c = const_cast<TComponent&>(component);
  c.SetStateFlags(csWriting);
  try {
    WriteObject(out, component, 0);
  } catch (...) {
    c.ClearStateFlags(csWriting);
    throw;
  }
  c.ClearStateFlags(csWriting);
  return out;
}

TComponent* ComponentFromText(std::string_view text, TComponent* owner) {
  Reader reader(text);
  return reader.ReadRoot(owner);
}

void WriteComponent(TStream& stream, const TComponent& component) {
  std::string text = ComponentToText(component);
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

TComponent* ReadComponent(TStream& stream, TComponent* owner) {
  int64_t size = stream.Size() - stream.Position();
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  return ComponentFromText(text, owner);
}

}  // namespace velmora::host
