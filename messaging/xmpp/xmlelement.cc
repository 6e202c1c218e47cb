#include "messaging/xmpp/xmlelement.h"

#include <cstdint>
#include <utility>

#include "messaging/xmpp/constants.h"

namespace buzz {

namespace {

const std::string kEmpty;

// XML 1.0 Char production.
bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid UTF-8
// (overlong forms and surrogates included).
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t* cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  size_t len;
  uint32_t c;
  uint32_t min;
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    c = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    c = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    c = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *cp = c;
  return len;
}

struct NsScope {
  std::string default_ns;
  // (namespace, prefix) pairs declared on the way down.
  std::vector<std::pair<std::string, std::string>> prefixes;
};

const std::string* FindPrefix(const NsScope& scope, const std::string& ns) {
  for (auto it = scope.prefixes.rbegin(); it != scope.prefixes.rend(); ++it) {
    if (it->first == ns) return &it->second;
  }
  return nullptr;
}

bool IsDeclarationAttr(const QName& name) {
  return name.Namespace() == NS_XMLNS || (name.Namespace().empty() && name.LocalPart() == "xmlns");
}

void Print(const XmlElement& elem, NsScope scope, std::string* out) {
  std::string decls;
  if (elem.Name().Namespace() != scope.default_ns) {
    scope.default_ns = elem.Name().Namespace();
    decls += " xmlns=\"" + XmlEscape(scope.default_ns, true) + "\"";
  }
  std::string attrs;
  for (const XmlElement::Attribute& a : elem.Attributes()) {
    if (IsDeclarationAttr(a.name)) continue;
    attrs += ' ';
    const std::string& ns = a.name.Namespace();
    if (ns == NS_XML) {
      attrs += "xml:";
    } else if (!ns.empty()) {
      const std::string* prefix = FindPrefix(scope, ns);
      if (prefix == nullptr) {
        std::string fresh = ns == NS_GOOGLE_AUTH_PROTOCOL
                                ? std::string("ga")
                                : "ns" + std::to_string(scope.prefixes.size() + 1);
        scope.prefixes.emplace_back(ns, fresh);
        decls += " xmlns:" + fresh + "=\"" + XmlEscape(ns, true) + "\"";
        prefix = &scope.prefixes.back().second;
      }
      attrs += *prefix + ":";
    }
    attrs += a.name.LocalPart() + "=\"" + XmlEscape(a.value, true) + "\"";
  }
  *out += '<';
  *out += elem.Name().LocalPart();
  *out += decls;
  *out += attrs;
  const XmlChild* child = elem.FirstChild();
  if (child == nullptr) {
    *out += "/>";
    return;
  }
  *out += '>';
  for (; child != nullptr; child = child->NextChild()) {
    if (child->IsText()) {
      *out += XmlEscape(child->AsText()->Text(), false);
    } else {
      Print(*child->AsElement(), scope, out);
    }
  }
  *out += "</";
  *out += elem.Name().LocalPart();
  *out += '>';
}

}  // namespace

std::string XmlEscape(const std::string& text, bool attribute) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(text, i, &cp);
    if (len == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
      continue;
    }
    if (!IsXmlChar(cp)) {
      i += len;
      continue;
    }
    switch (cp) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\'':
        out += attribute ? "&apos;" : "'";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      case '\r':
        out += "&#13;";  // a literal CR would be normalised away by the reader
        break;
      default:
        out.append(text, i, len);
    }
    i += len;
  }
  return out;
}

XmlChild::~XmlChild() {
  // Unlink the rest of the sibling list iteratively: a long list must not recurse.
  std::unique_ptr<XmlChild> next = std::move(next_);
  while (next) next = std::move(next->next_);
}

XmlElement* XmlChild::AsElement() { return IsText() ? nullptr : static_cast<XmlElement*>(this); }
const XmlElement* XmlChild::AsElement() const {
  return IsText() ? nullptr : static_cast<const XmlElement*>(this);
}
XmlText* XmlChild::AsText() { return IsText() ? static_cast<XmlText*>(this) : nullptr; }
const XmlText* XmlChild::AsText() const {
  return IsText() ? static_cast<const XmlText*>(this) : nullptr;
}

XmlElement::XmlElement(const QName& name) : name_(name) {}

XmlElement::XmlElement(const QName& name, bool /*use_default_ns*/) : name_(name) {}

XmlElement::XmlElement(const XmlElement& other)
    : XmlChild(), name_(other.name_), attrs_(other.attrs_) {
  for (const XmlChild* c = other.FirstChild(); c != nullptr; c = c->NextChild()) {
    if (c->IsText()) {
      AppendChild(std::make_unique<XmlText>(c->AsText()->Text()));
    } else {
      AppendChild(std::make_unique<XmlElement>(*c->AsElement()));
    }
  }
}

XmlElement::~XmlElement() = default;

const std::string& XmlElement::Attr(const QName& name) const {
  for (const Attribute& a : attrs_) {
    if (a.name == name) return a.value;
  }
  return kEmpty;
}

bool XmlElement::HasAttr(const QName& name) const {
  for (const Attribute& a : attrs_) {
    if (a.name == name) return true;
  }
  return false;
}

void XmlElement::SetAttr(const QName& name, const std::string& value) {
  for (Attribute& a : attrs_) {
    if (a.name == name) {
      a.value = value;
      return;
    }
  }
  attrs_.push_back({name, value});
}

void XmlElement::ClearAttr(const QName& name) {
  std::erase_if(attrs_, [&name](const Attribute& a) { return a.name == name; });
}

void XmlElement::AppendChild(std::unique_ptr<XmlChild> child) {
  XmlChild* raw = child.get();
  if (last_child_ == nullptr) {
    first_child_ = std::move(child);
  } else {
    last_child_->next_ = std::move(child);
  }
  last_child_ = raw;
}

XmlElement* XmlElement::AddElement(std::unique_ptr<XmlElement> child) {
  if (!child) return nullptr;
  XmlElement* raw = child.get();
  AppendChild(std::move(child));
  return raw;
}

XmlElement* XmlElement::AddElement(XmlElement* child) {
  return AddElement(std::unique_ptr<XmlElement>(child));
}

void XmlElement::AddText(const std::string& text) {
  if (text.empty()) return;
  if (last_child_ != nullptr && last_child_->IsText()) {
    last_child_->AsText()->AddText(text);
    return;
  }
  AppendChild(std::make_unique<XmlText>(text));
}

void XmlElement::ClearChildren() {
  first_child_.reset();
  last_child_ = nullptr;
}

std::unique_ptr<XmlElement> XmlElement::RemoveFirstNamed(const QName& name) {
  XmlChild* prev = nullptr;
  for (XmlChild* c = first_child_.get(); c != nullptr; prev = c, c = c->next_.get()) {
    if (c->IsText() || c->AsElement()->Name() != name) continue;
    std::unique_ptr<XmlChild>& link = prev == nullptr ? first_child_ : prev->next_;
    std::unique_ptr<XmlChild> removed = std::move(link);
    link = std::move(removed->next_);
    if (last_child_ == c) last_child_ = prev;
    return std::unique_ptr<XmlElement>(static_cast<XmlElement*>(removed.release()));
  }
  return nullptr;
}

namespace {

template <class C, class Pred>
auto FirstFrom(C* child, Pred pred) -> decltype(child->AsElement()) {
  for (; child != nullptr; child = child->NextChild()) {
    if (!child->IsText() && pred(*child->AsElement())) return child->AsElement();
  }
  return nullptr;
}

}  // namespace

XmlElement* XmlElement::FirstElement() {
  return FirstFrom(FirstChild(), [](const XmlElement&) { return true; });
}
const XmlElement* XmlElement::FirstElement() const {
  return FirstFrom(FirstChild(), [](const XmlElement&) { return true; });
}
XmlElement* XmlElement::NextElement() {
  return FirstFrom(NextChild(), [](const XmlElement&) { return true; });
}
const XmlElement* XmlElement::NextElement() const {
  return FirstFrom(NextChild(), [](const XmlElement&) { return true; });
}
XmlElement* XmlElement::FirstNamed(const QName& name) {
  return FirstFrom(FirstChild(), [&name](const XmlElement& e) { return e.Name() == name; });
}
const XmlElement* XmlElement::FirstNamed(const QName& name) const {
  return FirstFrom(FirstChild(), [&name](const XmlElement& e) { return e.Name() == name; });
}
XmlElement* XmlElement::NextNamed(const QName& name) {
  return FirstFrom(NextChild(), [&name](const XmlElement& e) { return e.Name() == name; });
}
const XmlElement* XmlElement::NextNamed(const QName& name) const {
  return FirstFrom(NextChild(), [&name](const XmlElement& e) { return e.Name() == name; });
}
const XmlElement* XmlElement::FirstWithNamespace(const std::string& ns) const {
  return FirstFrom(FirstChild(), [&ns](const XmlElement& e) { return e.Name().Namespace() == ns; });
}
const XmlElement* XmlElement::NextWithNamespace(const std::string& ns) const {
  return FirstFrom(NextChild(), [&ns](const XmlElement& e) { return e.Name().Namespace() == ns; });
}

std::string XmlElement::BodyText() const {
  std::string text;
  for (const XmlChild* c = FirstChild(); c != nullptr; c = c->NextChild()) {
    if (c->IsText()) text += c->AsText()->Text();
  }
  return text;
}

void XmlElement::SetBodyText(const std::string& text) {
  ClearChildren();
  AddText(text);
}

std::string XmlElement::TextNamed(const QName& name) const {
  const XmlElement* child = FirstNamed(name);
  return child == nullptr ? std::string() : child->BodyText();
}

XmlElement* XmlElement::AddElementWithText(const QName& name, const std::string& text) {
  auto child = std::make_unique<XmlElement>(name);
  child->AddText(text);
  return AddElement(std::move(child));
}

std::string XmlElement::Str() const { return StrInContext(std::string()); }

std::string XmlElement::StrInContext(const std::string& default_ns) const {
  std::string out;
  NsScope scope;
  scope.default_ns = default_ns;
  Print(*this, scope, &out);
  return out;
}

}  // namespace buzz
