// Namespaces, names and fixed texts of the XMPP layer.
#pragma once

#include <string>

#include "messaging/xmpp/qname.h"

namespace buzz {

extern const char NS_CLIENT[];                // "jabber:client"
extern const char NS_SERVER[];                // "jabber:server"
extern const char NS_STREAM[];                // "http://etherx.jabber.org/streams"
extern const char NS_XSTREAM[];               // "urn:ietf:params:xml:ns:xmpp-streams"
extern const char NS_TLS[];                   // "urn:ietf:params:xml:ns:xmpp-tls"
extern const char NS_SASL[];                  // "urn:ietf:params:xml:ns:xmpp-sasl"
extern const char NS_BIND[];                  // "urn:ietf:params:xml:ns:xmpp-bind"
extern const char NS_SESSION[];               // "urn:ietf:params:xml:ns:xmpp-session"
extern const char NS_STANZA[];                // "urn:ietf:params:xml:ns:xmpp-stanzas"
extern const char NS_XML[];                   // "http://www.w3.org/XML/1998/namespace"
extern const char NS_XMLNS[];                 // "http://www.w3.org/2000/xmlns/"
extern const char NS_GOOGLE_AUTH_PROTOCOL[];  // "http://www.google.com/talk/protocol/auth"
extern const char NS_PING[];                  // "urn:xmpp:ping"
extern const char NS_ROSTER[];                // "jabber:iq:roster"
extern const char NS_VCARD[];                 // "vcard-temp"
extern const char NS_VCARD_UPDATE[];          // "vcard-temp:x:update"
extern const char NS_DELAY[];                 // "jabber:x:delay"
extern const char NS_CAPS[];                  // "http://jabber.org/protocol/caps"
extern const char NS_GOOGLE_SUBSCRIBE[];      // "google:subscribe"

// SASL mechanism names.
extern const char AUTH_MECHANISM_OAUTH2[];        // "X-OAUTH2"
extern const char AUTH_MECHANISM_GOOGLE_TOKEN[];  // "X-GOOGLE-TOKEN"
extern const char AUTH_MECHANISM_PLAIN[];         // "PLAIN"
// The token service named in the X-OAUTH2 auth element.
extern const char AUTH_TOKEN_SERVICE_OAUTH2[];  // "oauth2"

// Stanza attribute values.
extern const char STR_GET[];
extern const char STR_SET[];
extern const char STR_RESULT[];
extern const char STR_ERROR[];
extern const char STR_UNAVAILABLE[];
extern const char STR_SUBSCRIBE[];
extern const char STR_SUBSCRIBED[];
extern const char STR_UNSUBSCRIBE[];
extern const char STR_UNSUBSCRIBED[];

// Stream and negotiation elements.
extern const QName QN_STREAM_STREAM;
extern const QName QN_STREAM_FEATURES;
extern const QName QN_STREAM_ERROR;
extern const QName QN_XSTREAM_TEXT;
extern const QName QN_TLS_STARTTLS;
extern const QName QN_TLS_REQUIRED;
extern const QName QN_TLS_PROCEED;
extern const QName QN_TLS_FAILURE;
extern const QName QN_SASL_MECHANISMS;
extern const QName QN_SASL_MECHANISM;
extern const QName QN_SASL_AUTH;
extern const QName QN_SASL_CHALLENGE;
extern const QName QN_SASL_RESPONSE;
extern const QName QN_SASL_ABORT;
extern const QName QN_SASL_SUCCESS;
extern const QName QN_SASL_FAILURE;
extern const QName QN_SASL_NOT_AUTHORIZED;
extern const QName QN_BIND_BIND;
extern const QName QN_BIND_RESOURCE;
extern const QName QN_BIND_JID;
extern const QName QN_SESSION_SESSION;

// Stanzas and their common children (namespace jabber:client).
extern const QName QN_MESSAGE;
extern const QName QN_PRESENCE;
extern const QName QN_IQ;
extern const QName QN_BODY;
extern const QName QN_SUBJECT;
extern const QName QN_THREAD;
extern const QName QN_SHOW;
extern const QName QN_STATUS;
extern const QName QN_PRIORITY;
extern const QName QN_ERROR;
extern const QName QN_INVISIBLE;  // Google's invisibility element, in jabber:client

// Attributes (no namespace) and xml:lang.
extern const QName QN_ID;
extern const QName QN_TYPE;
extern const QName QN_TO;
extern const QName QN_FROM;
extern const QName QN_NAME;
extern const QName QN_JID;
extern const QName QN_VALUE;
extern const QName QN_CODE;
extern const QName QN_MECHANISM;
extern const QName QN_VERSION;
extern const QName QN_XML_LANG;
extern const QName QN_GOOGLE_AUTH_SERVICE;  // attribute "service" in NS_GOOGLE_AUTH_PROTOCOL

// Elements used by the program's tasks.
extern const QName QN_PING;                // urn:xmpp:ping ping
extern const QName QN_ROSTER_QUERY;        // jabber:iq:roster query
extern const QName QN_ROSTER_ITEM;         // jabber:iq:roster item
extern const QName QN_VCARD;               // vcard-temp vCard
extern const QName QN_VCARD_FN;            // vcard-temp FN
extern const QName QN_VCARD_PHOTO;         // vcard-temp PHOTO
extern const QName QN_VCARD_PHOTO_BINVAL;  // vcard-temp BINVAL
extern const QName QN_VCARD_UPDATE_X;      // vcard-temp:x:update x
extern const QName QN_VCARD_UPDATE_PHOTO;  // vcard-temp:x:update photo
extern const QName QN_DELAY_X;             // jabber:x:delay x
extern const QName QN_STAMP;               // attribute "stamp"
extern const QName QN_CAPS_C;              // http://jabber.org/protocol/caps c
extern const QName QN_NODE;                // attribute "node"
extern const QName QN_VER;                 // attribute "ver"
extern const QName QN_EXT;                 // attribute "ext"
extern const QName QN_GOOGLE_INVITATION;   // google:subscribe invitation
extern const QName QN_INVITE_MESSAGE;      // attribute "message" of the invitation

// Stanza error conditions (urn:ietf:params:xml:ns:xmpp-stanzas).
extern const QName QN_STANZA_SERVICE_UNAVAILABLE;
extern const QName QN_STANZA_FEATURE_NOT_IMPLEMENTED;
extern const QName QN_STANZA_BAD_REQUEST;

}  // namespace buzz
