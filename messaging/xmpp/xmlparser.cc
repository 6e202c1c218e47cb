#include "messaging/xmpp/xmlparser.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace buzz {

namespace {

// Expat reports a namespaced name as "uri<sep>local"; local names never hold a blank.
constexpr char kNsSeparator = ' ';

QName NameFromExpat(const char* name) {
  const char* sep = std::strrchr(name, kNsSeparator);
  if (sep == nullptr) return QName(std::string(), name);
  return QName(std::string(name, sep - name), sep + 1);
}

bool IsBlank(const char* s, int len) {
  for (int i = 0; i < len; ++i) {
    if (s[i] != ' ' && s[i] != '\t' && s[i] != '\n' && s[i] != '\r') return false;
  }
  return true;
}

// Builds element trees from expat's callbacks. In stream mode the root is reported on its own
// and each of its children as a tree; in document mode the root is the tree.
class TreeBuilder {
 public:
  TreeBuilder(bool stream_mode, XmppStreamParser::Handler* handler)
      : stream_mode_(stream_mode), handler_(handler) {
    Create();
  }
  ~TreeBuilder() { XML_ParserFree(parser_); }
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  bool failed() const { return failed_; }

  void Reset() {
    XML_ParserFree(parser_);
    Create();
  }

  bool Feed(const char* data, size_t len, bool final) {
    if (failed_) return false;
    // Slices keep the size check close to the bytes that break it.
    constexpr size_t kSlice = 64 * 1024;
    size_t offset = 0;
    do {
      const size_t n = std::min(kSlice, len - offset);
      const XML_Status status =
          XML_Parse(parser_, data + offset, static_cast<int>(n), final && offset + n == len);
      if (status == XML_STATUS_ERROR) {
        if (reset_requested_) {
          // The handler restarted the stream inside a callback: go on with a fresh document
          // from the byte after the element that ended it.
          const XML_Index consumed = reset_index_ - fed_;
          reset_requested_ = false;
          Reset();
          if (consumed >= 0 && static_cast<size_t>(consumed) <= n) {
            offset += static_cast<size_t>(consumed);
            continue;
          }
          return !failed_;
        }
        if (!failed_) {
          const XML_Error code = XML_GetErrorCode(parser_);
          Fail(code == XML_ERROR_ABORTED ? abort_reason_ : XML_ErrorString(code));
        }
        return false;
      }
      fed_ += static_cast<XML_Index>(n);
      offset += n;
      if (stream_mode_ &&
          fed_ - boundary_ > static_cast<XML_Index>(XmppStreamParser::kMaxStanzaBytes)) {
        Fail("stanza too large");
        return false;
      }
    } while (offset < len);
    return true;
  }

  // Called by the stream parser's Reset() while a callback runs.
  bool in_callback() const { return in_callback_ > 0; }
  void RequestReset() {
    reset_requested_ = true;
    reset_index_ = XML_GetCurrentByteIndex(parser_) + XML_GetCurrentByteCount(parser_);
    XML_StopParser(parser_, XML_FALSE);
  }

  std::unique_ptr<XmlElement> TakeDocument() { return std::move(document_); }

 private:
  struct CallbackScope {
    explicit CallbackScope(TreeBuilder* b) : b_(b) { ++b_->in_callback_; }
    ~CallbackScope() { --b_->in_callback_; }
    TreeBuilder* b_;
  };

  void Create() {
    parser_ = XML_ParserCreateNS("UTF-8", kNsSeparator);
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &TreeBuilder::OnStart, &TreeBuilder::OnEnd);
    XML_SetCharacterDataHandler(parser_, &TreeBuilder::OnText);
    XML_SetStartDoctypeDeclHandler(parser_, &TreeBuilder::OnDoctype);
    XML_SetEntityDeclHandler(parser_, &TreeBuilder::OnEntityDecl);
    XML_SetProcessingInstructionHandler(parser_, &TreeBuilder::OnPi);
    depth_ = 0;
    stack_.clear();
    current_root_.reset();
    boundary_ = 0;
    fed_ = 0;
    failed_ = false;
  }

  void Fail(const std::string& message) {
    if (failed_) return;
    failed_ = true;
    if (handler_ != nullptr) handler_->OnXmlError(message);
  }

  void Abort(const char* reason) {
    abort_reason_ = reason;
    XML_StopParser(parser_, XML_FALSE);
  }

  static std::unique_ptr<XmlElement> MakeElement(const char* name, const char** atts) {
    auto elem = std::make_unique<XmlElement>(NameFromExpat(name));
    for (int i = 0; atts[i] != nullptr; i += 2) elem->SetAttr(NameFromExpat(atts[i]), atts[i + 1]);
    return elem;
  }

  static void OnStart(void* user, const char* name, const char** atts) {
    auto* b = static_cast<TreeBuilder*>(user);
    CallbackScope scope(b);
    if (b->failed_ || b->reset_requested_) return;
    if (b->depth_ >= XmppStreamParser::kMaxDepth) {
      b->Abort("elements nested too deeply");
      return;
    }
    ++b->depth_;
    if (b->stream_mode_ && b->depth_ == 1) {
      b->boundary_ = XML_GetCurrentByteIndex(b->parser_) + XML_GetCurrentByteCount(b->parser_);
      std::unique_ptr<XmlElement> root = MakeElement(name, atts);
      b->handler_->OnStreamStart(*root);
      return;
    }
    std::unique_ptr<XmlElement> elem = MakeElement(name, atts);
    XmlElement* raw = elem.get();
    if (b->stack_.empty()) {
      b->current_root_ = std::move(elem);
    } else {
      b->stack_.back()->AddElement(std::move(elem));
    }
    b->stack_.push_back(raw);
  }

  static void OnEnd(void* user, const char* /*name*/) {
    auto* b = static_cast<TreeBuilder*>(user);
    CallbackScope scope(b);
    if (b->failed_ || b->reset_requested_) return;
    --b->depth_;
    if (b->stream_mode_ && b->depth_ == 0) {
      b->handler_->OnStreamEnd();
      return;
    }
    if (!b->stack_.empty()) b->stack_.pop_back();
    if (!b->stack_.empty()) return;
    if (!b->stream_mode_) {
      b->document_ = std::move(b->current_root_);
      return;
    }
    b->boundary_ = XML_GetCurrentByteIndex(b->parser_) + XML_GetCurrentByteCount(b->parser_);
    b->handler_->OnStanza(std::move(b->current_root_));
  }

  static void OnText(void* user, const char* s, int len) {
    auto* b = static_cast<TreeBuilder*>(user);
    CallbackScope scope(b);
    if (b->failed_ || b->reset_requested_) return;
    if (b->stack_.empty()) {
      // White space between stanzas (keep-alives) moves the boundary on; other text there
      // has no meaning and is dropped.
      if (IsBlank(s, len)) {
        b->boundary_ = XML_GetCurrentByteIndex(b->parser_) + XML_GetCurrentByteCount(b->parser_);
      }
      return;
    }
    b->stack_.back()->AddText(std::string(s, len));
  }

  static void OnDoctype(void* user, const char*, const char*, const char*, int) {
    static_cast<TreeBuilder*>(user)->Abort("document type declarations are not allowed");
  }
  static void OnEntityDecl(void* user, const char*, int, const char*, int, const char*, const char*,
                           const char*, const char*) {
    static_cast<TreeBuilder*>(user)->Abort("entity declarations are not allowed");
  }
  static void OnPi(void* user, const char*, const char*) {
    static_cast<TreeBuilder*>(user)->Abort("processing instructions are not allowed");
  }

  const bool stream_mode_;
  XmppStreamParser::Handler* handler_;
  XML_Parser parser_ = nullptr;
  int depth_ = 0;
  std::vector<XmlElement*> stack_;
  std::unique_ptr<XmlElement> current_root_;
  std::unique_ptr<XmlElement> document_;
  bool failed_ = false;
  const char* abort_reason_ = "aborted";
  int in_callback_ = 0;
  bool reset_requested_ = false;
  XML_Index reset_index_ = 0;
  XML_Index fed_ = 0;       // bytes given to the current expat parser
  XML_Index boundary_ = 0;  // where the current stanza began (end of the last one)
};

}  // namespace

struct XmppStreamParser::Impl {
  explicit Impl(Handler* handler) : builder(true, handler) {}
  TreeBuilder builder;
};

XmppStreamParser::XmppStreamParser(Handler* handler) : impl_(std::make_unique<Impl>(handler)) {}

XmppStreamParser::~XmppStreamParser() = default;

bool XmppStreamParser::Parse(const char* data, size_t len) {
  if (len == 0) return !impl_->builder.failed();
  return impl_->builder.Feed(data, len, false);
}

void XmppStreamParser::Reset() {
  if (impl_->builder.in_callback()) {
    impl_->builder.RequestReset();
  } else {
    impl_->builder.Reset();
  }
}

bool XmppStreamParser::failed() const { return impl_->builder.failed(); }

std::unique_ptr<XmlElement> XmlElement::ForStr(const std::string& text) {
  TreeBuilder builder(false, nullptr);
  if (!builder.Feed(text.data(), text.size(), true)) return nullptr;
  return builder.TakeDocument();
}

}  // namespace buzz
