#include "messaging/xmpp/constants.h"

namespace buzz {

const char NS_CLIENT[] = "jabber:client";
const char NS_SERVER[] = "jabber:server";
const char NS_STREAM[] = "http://etherx.jabber.org/streams";
const char NS_XSTREAM[] = "urn:ietf:params:xml:ns:xmpp-streams";
const char NS_TLS[] = "urn:ietf:params:xml:ns:xmpp-tls";
const char NS_SASL[] = "urn:ietf:params:xml:ns:xmpp-sasl";
const char NS_BIND[] = "urn:ietf:params:xml:ns:xmpp-bind";
const char NS_SESSION[] = "urn:ietf:params:xml:ns:xmpp-session";
const char NS_STANZA[] = "urn:ietf:params:xml:ns:xmpp-stanzas";
const char NS_XML[] = "http://www.w3.org/XML/1998/namespace";
const char NS_XMLNS[] = "http://www.w3.org/2000/xmlns/";
const char NS_GOOGLE_AUTH_PROTOCOL[] = "http://www.google.com/talk/protocol/auth";
const char NS_PING[] = "urn:xmpp:ping";
const char NS_ROSTER[] = "jabber:iq:roster";
const char NS_VCARD[] = "vcard-temp";
const char NS_VCARD_UPDATE[] = "vcard-temp:x:update";
const char NS_DELAY[] = "jabber:x:delay";
const char NS_CAPS[] = "http://jabber.org/protocol/caps";
const char NS_GOOGLE_SUBSCRIBE[] = "google:subscribe";

const char AUTH_MECHANISM_OAUTH2[] = "X-OAUTH2";
const char AUTH_MECHANISM_GOOGLE_TOKEN[] = "X-GOOGLE-TOKEN";
const char AUTH_MECHANISM_PLAIN[] = "PLAIN";
const char AUTH_TOKEN_SERVICE_OAUTH2[] = "oauth2";

const char STR_GET[] = "get";
const char STR_SET[] = "set";
const char STR_RESULT[] = "result";
const char STR_ERROR[] = "error";
const char STR_UNAVAILABLE[] = "unavailable";
const char STR_SUBSCRIBE[] = "subscribe";
const char STR_SUBSCRIBED[] = "subscribed";
const char STR_UNSUBSCRIBE[] = "unsubscribe";
const char STR_UNSUBSCRIBED[] = "unsubscribed";

const QName QN_STREAM_STREAM(NS_STREAM, "stream");
const QName QN_STREAM_FEATURES(NS_STREAM, "features");
const QName QN_STREAM_ERROR(NS_STREAM, "error");
const QName QN_XSTREAM_TEXT(NS_XSTREAM, "text");
const QName QN_TLS_STARTTLS(NS_TLS, "starttls");
const QName QN_TLS_REQUIRED(NS_TLS, "required");
const QName QN_TLS_PROCEED(NS_TLS, "proceed");
const QName QN_TLS_FAILURE(NS_TLS, "failure");
const QName QN_SASL_MECHANISMS(NS_SASL, "mechanisms");
const QName QN_SASL_MECHANISM(NS_SASL, "mechanism");
const QName QN_SASL_AUTH(NS_SASL, "auth");
const QName QN_SASL_CHALLENGE(NS_SASL, "challenge");
const QName QN_SASL_RESPONSE(NS_SASL, "response");
const QName QN_SASL_ABORT(NS_SASL, "abort");
const QName QN_SASL_SUCCESS(NS_SASL, "success");
const QName QN_SASL_FAILURE(NS_SASL, "failure");
const QName QN_SASL_NOT_AUTHORIZED(NS_SASL, "not-authorized");
const QName QN_BIND_BIND(NS_BIND, "bind");
const QName QN_BIND_RESOURCE(NS_BIND, "resource");
const QName QN_BIND_JID(NS_BIND, "jid");
const QName QN_SESSION_SESSION(NS_SESSION, "session");

const QName QN_MESSAGE(NS_CLIENT, "message");
const QName QN_PRESENCE(NS_CLIENT, "presence");
const QName QN_IQ(NS_CLIENT, "iq");
const QName QN_BODY(NS_CLIENT, "body");
const QName QN_SUBJECT(NS_CLIENT, "subject");
const QName QN_THREAD(NS_CLIENT, "thread");
const QName QN_SHOW(NS_CLIENT, "show");
const QName QN_STATUS(NS_CLIENT, "status");
const QName QN_PRIORITY(NS_CLIENT, "priority");
const QName QN_ERROR(NS_CLIENT, "error");
const QName QN_INVISIBLE(NS_CLIENT, "invisible");

const QName QN_ID("", "id");
const QName QN_TYPE("", "type");
const QName QN_TO("", "to");
const QName QN_FROM("", "from");
const QName QN_NAME("", "name");
const QName QN_JID("", "jid");
const QName QN_VALUE("", "value");
const QName QN_CODE("", "code");
const QName QN_MECHANISM("", "mechanism");
const QName QN_VERSION("", "version");
const QName QN_XML_LANG(NS_XML, "lang");
const QName QN_GOOGLE_AUTH_SERVICE(NS_GOOGLE_AUTH_PROTOCOL, "service");

const QName QN_PING(NS_PING, "ping");
const QName QN_ROSTER_QUERY(NS_ROSTER, "query");
const QName QN_ROSTER_ITEM(NS_ROSTER, "item");
const QName QN_VCARD(NS_VCARD, "vCard");
const QName QN_VCARD_FN(NS_VCARD, "FN");
const QName QN_VCARD_PHOTO(NS_VCARD, "PHOTO");
const QName QN_VCARD_PHOTO_BINVAL(NS_VCARD, "BINVAL");
const QName QN_VCARD_UPDATE_X(NS_VCARD_UPDATE, "x");
const QName QN_VCARD_UPDATE_PHOTO(NS_VCARD_UPDATE, "photo");
const QName QN_DELAY_X(NS_DELAY, "x");
const QName QN_STAMP("", "stamp");
const QName QN_CAPS_C(NS_CAPS, "c");
const QName QN_NODE("", "node");
const QName QN_VER("", "ver");
const QName QN_EXT("", "ext");
const QName QN_GOOGLE_INVITATION(NS_GOOGLE_SUBSCRIBE, "invitation");
const QName QN_INVITE_MESSAGE("", "message");

const QName QN_STANZA_SERVICE_UNAVAILABLE(NS_STANZA, "service-unavailable");
const QName QN_STANZA_FEATURE_NOT_IMPLEMENTED(NS_STANZA, "feature-not-implemented");
const QName QN_STANZA_BAD_REQUEST(NS_STANZA, "bad-request");

}  // namespace buzz
