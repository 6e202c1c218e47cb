// An XML element tree: elements with attributes, text and child elements, and its serialization.
//
//   auto iq = std::make_unique<buzz::XmlElement>(buzz::QN_IQ);
//   iq->SetAttr(buzz::QN_TYPE, "get");
//   iq->AddElement(std::make_unique<buzz::XmlElement>(buzz::QN_PING, true));
//   std::string text = iq->Str();  // <iq type="get"><ping xmlns="urn:xmpp:ping"/></iq> (with
//                                  // xmlns="jabber:client" on the root)
//
// Names are resolved QNames; prefixes are never stored. Serialization declares the namespaces it
// needs: the default namespace wherever an element's namespace differs from its parent's, and a
// generated prefix for namespaced attributes ("xml" for xml:lang). Text and attribute values are
// escaped, characters that XML 1.0 cannot carry (control characters other than tab, newline and
// carriage return) are dropped, and bytes that are not UTF-8 become U+FFFD, so the output is
// always well formed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "messaging/xmpp/qname.h"

namespace buzz {

class XmlElement;

// A child of an element: a text run or an element. Children form a list in document order.
class XmlChild {
 public:
  virtual ~XmlChild();
  XmlChild(const XmlChild&) = delete;
  XmlChild& operator=(const XmlChild&) = delete;

  virtual bool IsText() const = 0;
  XmlElement* AsElement();
  const XmlElement* AsElement() const;
  class XmlText* AsText();
  const class XmlText* AsText() const;

  XmlChild* NextChild() { return next_.get(); }
  const XmlChild* NextChild() const { return next_.get(); }

 protected:
  XmlChild() = default;

 private:
  friend class XmlElement;
  std::unique_ptr<XmlChild> next_;
};

class XmlText : public XmlChild {
 public:
  explicit XmlText(const std::string& text) : text_(text) {}
  bool IsText() const override { return true; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& text) { text_ = text; }
  void AddText(const std::string& text) { text_ += text; }

 private:
  std::string text_;
};

class XmlElement : public XmlChild {
 public:
  explicit XmlElement(const QName& name);
  // With `use_default_ns`, the element's namespace is declared on it when serialized even where
  // the parent has the same namespace. Kept for source compatibility; declarations are always
  // derived from the tree, so both forms serialize correctly.
  XmlElement(const QName& name, bool use_default_ns);
  // Deep copy.
  XmlElement(const XmlElement& other);
  XmlElement& operator=(const XmlElement&) = delete;
  ~XmlElement() override;

  bool IsText() const override { return false; }

  const QName& Name() const { return name_; }
  void SetName(const QName& name) { name_ = name; }

  // Attributes keep the order in which they were first set.
  const std::string& Attr(const QName& name) const;  // empty text when absent
  bool HasAttr(const QName& name) const;
  void SetAttr(const QName& name, const std::string& value);
  void AddAttr(const QName& name, const std::string& value) { SetAttr(name, value); }
  void ClearAttr(const QName& name);
  struct Attribute {
    QName name;
    std::string value;
  };
  const std::vector<Attribute>& Attributes() const { return attrs_; }

  // Children. Added children are owned by this element.
  XmlChild* FirstChild() { return first_child_.get(); }
  const XmlChild* FirstChild() const { return first_child_.get(); }
  XmlElement* AddElement(std::unique_ptr<XmlElement> child);
  // Takes ownership of `child` (the messaging library's classic form: AddElement(new ...)).
  XmlElement* AddElement(XmlElement* child);
  // Appends text; merged with a text run that ends the child list.
  void AddText(const std::string& text);
  void ClearChildren();
  // Removes and returns the first child element with `name` (null when there is none).
  std::unique_ptr<XmlElement> RemoveFirstNamed(const QName& name);

  // Element navigation (text children are skipped).
  XmlElement* FirstElement();
  const XmlElement* FirstElement() const;
  XmlElement* NextElement();
  const XmlElement* NextElement() const;
  XmlElement* FirstNamed(const QName& name);
  const XmlElement* FirstNamed(const QName& name) const;
  XmlElement* NextNamed(const QName& name);
  const XmlElement* NextNamed(const QName& name) const;
  const XmlElement* FirstWithNamespace(const std::string& ns) const;
  const XmlElement* NextWithNamespace(const std::string& ns) const;

  // Text: BodyText is the concatenation of the direct text children; SetBodyText replaces all
  // children by one text run; TextNamed is the body text of the first child named `name`.
  std::string BodyText() const;
  void SetBodyText(const std::string& text);
  std::string TextNamed(const QName& name) const;
  // Adds a child element `name` holding `text`.
  XmlElement* AddElementWithText(const QName& name, const std::string& text);

  // The element and its subtree as XML text.
  std::string Str() const;
  // Serialization inside a context whose default namespace is `default_ns` (a stanza written on
  // a stream whose default namespace is jabber:client carries no xmlns of its own).
  std::string StrInContext(const std::string& default_ns) const;

  // Parses one complete XML document into a tree; null when it is not well formed.
  static std::unique_ptr<XmlElement> ForStr(const std::string& text);

 private:
  friend class XmlChild;
  void AppendChild(std::unique_ptr<XmlChild> child);

  QName name_;
  std::vector<Attribute> attrs_;
  std::unique_ptr<XmlChild> first_child_;
  XmlChild* last_child_ = nullptr;
};

// Escapes text for character data ('&', '<', '>') or, with `attribute`, for a quoted attribute
// value (also '"', '\'' and the white space that attribute normalisation would change). Removes
// what XML 1.0 cannot carry and replaces bytes that are not UTF-8 by U+FFFD.
std::string XmlEscape(const std::string& text, bool attribute);

}  // namespace buzz
