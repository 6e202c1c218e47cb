// Tasks that send and receive stanzas on an XmppClient.
//
// A task whose handler level is not HL_NONE is registered with the client when it is created
// and sees incoming stanzas at that level through HandleStanza (see XmppEngine::HandlerLevel).
// A receiving task typically takes the stanzas it wants in HandleStanza with QueueStanza (which
// copies the stanza and wakes the task) and handles them in ProcessStart, one by one through
// NextStanza, returning STATE_BLOCKED when the queue is empty:
//
//   class PingTask : public buzz::XmppTask {
//    public:
//     explicit PingTask(talk_base::TaskParent* parent)
//         : XmppTask(parent, buzz::XmppEngine::HL_TYPE) {}
//     bool HandleStanza(const buzz::XmlElement* stanza) override {
//       if (!MatchRequestIq(stanza, buzz::STR_GET, buzz::QN_PING)) return false;
//       QueueStanza(stanza);
//       return true;
//     }
//     int ProcessStart() override {
//       const buzz::XmlElement* stanza = NextStanza();
//       if (stanza == nullptr) return STATE_BLOCKED;
//       SendStanza(MakeIqResult(stanza).get());
//       return STATE_START;  // wait for the next one
//     }
//   };
//
//   (new PingTask(client))->Start();  // the runner owns it from here on
//
// All of it runs on the client thread.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "messaging/sigslot/sigslot.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/qname.h"
#include "messaging/xmpp/task.h"
#include "messaging/xmpp/xmlelement.h"
#include "messaging/xmpp/xmppengine.h"

namespace buzz {

class XmppClient;

class XmppTask : public talk_base::Task, public XmppStanzaHandler, public sigslot::has_slots<> {
 public:
  // `parent` is the XmppClient or a task below it.
  explicit XmppTask(talk_base::TaskParent* parent,
                    XmppEngine::HandlerLevel level = XmppEngine::HL_NONE);
  ~XmppTask() override;

  const std::string& task_id() const { return id_; }
  void set_task_id(const std::string& id) { id_ = id; }

  bool HandleStanza(const XmlElement* /*stanza*/) override { return false; }

  // The client this task works for; null when it has gone.
  XmppClient* GetClient() const { return client_; }

 protected:
  XmppReturnStatus SendStanza(const XmlElement* stanza);
  // Answers `original` (an iq, message or presence) with a stanza of type "error" holding the
  // error `type` ("cancel", "modify", ...) and `condition` (a QN_STANZA_* name).
  XmppReturnStatus SendStanzaError(const XmlElement* original, const std::string& type,
                                   const QName& condition);

  void Stop() override;

  // Copies `stanza` into the task's queue and wakes the task.
  virtual void QueueStanza(const XmlElement* stanza);
  // The oldest queued stanza (null when none); valid until the next call.
  const XmlElement* NextStanza();

  // True for an iq result or error from `to` (or from the server when `to` is empty or the
  // account's own bare address) with the id `task_id`.
  bool MatchResponseIq(const XmlElement* stanza, const Jid& to, const std::string& task_id) const;
  // True for an iq of `type` whose first child is named `qn`.
  static bool MatchRequestIq(const XmlElement* stanza, const std::string& type, const QName& qn);
  static std::unique_ptr<XmlElement> MakeIq(const std::string& type, const Jid& to,
                                            const std::string& id);
  // The empty result to the iq request `query`, addressed to its sender with its id.
  static std::unique_ptr<XmlElement> MakeIqResult(const XmlElement* query);

 private:
  friend class XmppClient;
  void OnClientGone();

  XmppClient* client_ = nullptr;
  std::string id_;
  std::deque<std::unique_ptr<XmlElement>> stanza_queue_;
  std::unique_ptr<XmlElement> next_stanza_;
};

}  // namespace buzz
