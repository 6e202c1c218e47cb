#include "messaging/xmpp/xmpptask.h"

#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmppclient.h"

namespace buzz {

namespace {

XmppClient* FindClient(talk_base::TaskParent* parent) {
  for (talk_base::TaskParent* p = parent; p != nullptr; p = p->GetParent()) {
    if (auto* client = dynamic_cast<XmppClient*>(p)) return client;
  }
  return nullptr;
}

}  // namespace

XmppTask::XmppTask(talk_base::TaskParent* parent, XmppEngine::HandlerLevel level)
    : talk_base::Task(parent), client_(FindClient(parent)) {
  if (client_ == nullptr) return;
  id_ = client_->NextId();
  client_->RegisterTask(this);
  if (level != XmppEngine::HL_NONE) client_->AddXmppTask(this, level);
}

XmppTask::~XmppTask() {
  if (client_ != nullptr) {
    client_->RemoveXmppTask(this);
    client_->UnregisterTask(this);
  }
}

void XmppTask::Stop() {
  // An ended task takes no more stanzas.
  if (client_ != nullptr) client_->RemoveXmppTask(this);
}

void XmppTask::OnClientGone() { client_ = nullptr; }

XmppReturnStatus XmppTask::SendStanza(const XmlElement* stanza) {
  if (client_ == nullptr) return XMPP_RETURN_BADSTATE;
  return client_->SendStanza(stanza);
}

XmppReturnStatus XmppTask::SendStanzaError(const XmlElement* original, const std::string& type,
                                           const QName& condition) {
  if (original == nullptr) return XMPP_RETURN_BADARGUMENT;
  XmlElement reply(original->Name());
  reply.SetAttr(QN_TYPE, STR_ERROR);
  if (original->HasAttr(QN_FROM)) reply.SetAttr(QN_TO, original->Attr(QN_FROM));
  if (original->HasAttr(QN_ID)) reply.SetAttr(QN_ID, original->Attr(QN_ID));
  // The request's payload goes back with the error (RFC 6120 8.3.1 allows it).
  for (const XmlElement* child = original->FirstElement(); child != nullptr;
       child = child->NextElement()) {
    reply.AddElement(std::make_unique<XmlElement>(*child));
  }
  XmlElement* error = reply.AddElement(std::make_unique<XmlElement>(QN_ERROR));
  error->SetAttr(QN_TYPE, type);
  error->AddElement(std::make_unique<XmlElement>(condition, true));
  return SendStanza(&reply);
}

void XmppTask::QueueStanza(const XmlElement* stanza) {
  if (stanza == nullptr || IsDone()) return;
  stanza_queue_.push_back(std::make_unique<XmlElement>(*stanza));
  Wake();
}

const XmlElement* XmppTask::NextStanza() {
  if (stanza_queue_.empty()) {
    next_stanza_.reset();
    return nullptr;
  }
  next_stanza_ = std::move(stanza_queue_.front());
  stanza_queue_.pop_front();
  return next_stanza_.get();
}

bool XmppTask::MatchResponseIq(const XmlElement* stanza, const Jid& to,
                               const std::string& task_id) const {
  if (stanza == nullptr || stanza->Name() != QN_IQ) return false;
  if (stanza->Attr(QN_ID) != task_id) return false;
  const std::string& type = stanza->Attr(QN_TYPE);
  if (type != STR_RESULT && type != STR_ERROR) return false;
  // A reply must come from where the request went; a request to the server (no "to") or to the
  // account's own bare address is answered without "from", by the bare address or by the domain.
  const Jid from(stanza->Attr(QN_FROM));
  if (from == to) return true;
  if (client_ == nullptr) return false;
  const Jid own = client_->jid();
  const bool to_server = to.IsEmpty() || to == own.BareJid() || to == Jid(own.domain());
  if (!to_server) return false;
  return !stanza->HasAttr(QN_FROM) || from == own.BareJid() || from == Jid(own.domain()) ||
         from == own;
}

bool XmppTask::MatchRequestIq(const XmlElement* stanza, const std::string& type, const QName& qn) {
  if (stanza == nullptr || stanza->Name() != QN_IQ || stanza->Attr(QN_TYPE) != type) return false;
  const XmlElement* child = stanza->FirstElement();
  return child != nullptr && child->Name() == qn;
}

std::unique_ptr<XmlElement> XmppTask::MakeIq(const std::string& type, const Jid& to,
                                             const std::string& id) {
  auto iq = std::make_unique<XmlElement>(QN_IQ);
  if (!type.empty()) iq->SetAttr(QN_TYPE, type);
  if (to.IsValid()) iq->SetAttr(QN_TO, to.Str());
  if (!id.empty()) iq->SetAttr(QN_ID, id);
  return iq;
}

std::unique_ptr<XmlElement> XmppTask::MakeIqResult(const XmlElement* query) {
  auto result = std::make_unique<XmlElement>(QN_IQ);
  result->SetAttr(QN_TYPE, STR_RESULT);
  if (query == nullptr) return result;
  if (query->HasAttr(QN_FROM)) result->SetAttr(QN_TO, query->Attr(QN_FROM));
  result->SetAttr(QN_ID, query->Attr(QN_ID));
  return result;
}

}  // namespace buzz
