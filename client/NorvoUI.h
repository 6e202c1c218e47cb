// The four callbacks by which the client side reaches the window. They arrive on the client
// thread (or, for the network monitor's events, on the monitor's thread): an implementation
// moves them to its own thread before it touches anything of the window.
#pragma once

#include <string>

struct _NorvoStreamingDevice;
struct _NorvoRosterSubscriptionMsg;

class NorvoUI {
 public:
  virtual ~NorvoUI() = default;

  // `code` is a NorvoEvent.
  virtual void OnUserEvent(int code) = 0;
  // The record is owned by the caller and valid only during the call.
  virtual void OnRemoteDeviceActivity(_NorvoStreamingDevice* device) = 0;
  virtual void OnRosterVCardReceived(const std::string& jid, const std::string& full_name,
                                     const std::string& img_b64) = 0;
  // The record is owned by the caller and valid only during the call.
  virtual void OnRosterSubscriptionMsgReceived(_NorvoRosterSubscriptionMsg* msg) = 0;
};
