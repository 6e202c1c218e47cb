#include "client-core/NorvoNativeInterface.h"

#include "client-core/NorvoLogger.h"
#include "messaging/base/logging.h"

namespace norvo {

const char* ClientStateName(int state) {
  switch (state) {
    case CLIENT_STATE_OFFLINE:
      return "OFFLINE";
    case CLIENT_STATE_CONNECTING:
      return "CONNECTING";
    case CLIENT_STATE_ONLINE:
      return "ONLINE";
    case CLIENT_STATE_DISCONNECTING:
      return "DISCONNECTING";
  }
  return nullptr;
}

const char* ClientEventName(int event) {
  switch (event) {
    case CLIENT_EVENT_LOGGING_IN:
      return "LOGGING_IN";
    case CLIENT_EVENT_LOGGING_OUT:
      return "LOGGING_OUT";
    case CLIENT_EVENT_LOGIN_OK:
      return "LOGIN_OK";
    case CLIENT_EVENT_LOGOUT_OK:
      return "LOGOUT_OK";
    case CLIENT_EVENT_OPERATION_TIMEOUT:
      return "OPERATION_TIMEOUT";
    case CLIENT_EVENT_AUTH_MISSING_PARAM:
      return "AUTH_MISSING_PARAM";
    case CLIENT_EVENT_AUTH_ERR:
      return "AUTH_ERR";
    case CLIENT_EVENT_NETWORK_ERR:
      return "NETWORK_ERR";
    case CLIENT_EVENT_SYSTEM_ERR:
      return "SYSTEM_ERR";
    case CLIENT_EVENT_NONE:
      return "NONE";
  }
  return nullptr;
}

void NorvoNativeInterface::LogClientState(int state) {
  const char* name = ClientStateName(state);
  if (name) {
    LOG(LS_INFO) << "NorvoNativeInterface::Current client state is " << name;
  } else {
    LOG(LS_ERROR) << "NorvoNativeInterface::Unknown client state: " << state;
  }
}

void NorvoNativeInterface::LogClientEvent(int event) {
  const char* name = ClientEventName(event);
  if (name) {
    LOG(LS_INFO) << "NorvoNativeInterface::Current client event is " << name;
  } else {
    LOG(LS_ERROR) << "NorvoNativeInterface::Unknown client event: " << event;
  }
}

}  // namespace norvo

namespace NorvoCommon {

const char* NorvoEventName(int e) {
  switch (e) {
    case NorvoEvent_Client_SignedIn:
      return "NorvoEvent_SignedIn";
    case NorvoEvent_Client_SignedOut:
      return "NorvoEvent_SignedOut";
    case NorvoEvent_Client_AuthFailed:
      return "NorvoEvent_AuthFailed";
    case NorvoEvent_Client_BackOnLine:
      return "NorvoEvent_Client_BackOnLine";
    case NorvoEvent_Client_Destroyed:
      return "NorvoEvent_Client_Destroyed";
    case NorvoEvent_FileAccess_Denied:
      return "NorvoEvent_FileAccess_Denied";
    case NorvoEvent_Connection_Started:
      return "NorvoEvent_Connection_Started";
    case NorvoEvent_Connection_Failed:
      return "NorvoEvent_Connection_Failed";
    case NorvoEvent_Connection_FailedWithAutoReconnect:
      return "NorvoEvent_Connection_FailedWithAutoReconnect";
    case NorvoEvent_None:
      return "NorvoEvent_None";
  }
  return nullptr;
}

void LogNorvoEvent(NorvoEvent e) {
  const char* name = NorvoEventName(e);
  if (!name) {
    // Only our own code hands events to this function, so an unknown one is a programming error.
    NorvoLogger::Fatal("NorvoCommon::LogNorvoEvent - Unknown code: %d, abort now.",
                       static_cast<int>(e));
    return;
  }
  LOG(LS_VERBOSE) << "NorvoCommon::LogNorvoEvent - " << name;
}

}  // namespace NorvoCommon
