// Throughput of the incremental stream parser: a stream of presence and IQ stanzas, as a server
// sends them, fed in pieces of several sizes; each stanza is built into a tree and handed over.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "messaging/xmpp/xmlparser.h"

namespace {

std::string MakeStream(int stanzas) {
  std::string s =
      "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
      "xmlns:stream='http://etherx.jabber.org/streams' id='bench' from='localhost' "
      "version='1.0'>";
  for (int i = 0; i < stanzas; ++i) {
    const std::string n = std::to_string(i);
    if (i % 2 == 0) {
      s += "<presence from='device" + n +
           "@localhost/phone' to='hub@localhost/norvo.pc'>"
           "<show>away</show><status>Listening &amp; relaxing \xE2\x99\xAA</status>"
           "<priority>0</priority><c xmlns='http://jabber.org/protocol/caps' "
           "node='http://www.google.com/xmpp/client/caps' ver='1.1' ext=' share-v1 nhub-v1'/>"
           "<x xmlns='vcard-temp:x:update'><photo>0123456789abcdef0123456789abcdef01234567</photo>"
           "</x><norvo xmlns='norvo:device' device-name='Phone " +
           n + "'/></presence>";
    } else {
      s += "<iq type='get' id='q" + n + "' from='device" + n +
           "@localhost/phone' to='hub@localhost/norvo.pc'><nHub xmlns='nhub'>{'action':'browse',"
           "'uri':'d41d8cd98f00b204e9800998ecf8427e','start':0,'count':50}</nHub></iq>";
    }
  }
  s += "</stream:stream>";
  return s;
}

struct Counter : buzz::XmppStreamParser::Handler {
  void OnStreamStart(const buzz::XmlElement&) override {}
  void OnStanza(std::unique_ptr<buzz::XmlElement> stanza) override {
    ++stanzas;
    bytes_of_names += stanza->Name().LocalPart().size();  // keep the tree in use
  }
  void OnStreamEnd() override {}
  void OnXmlError(const std::string& message) override {
    std::fprintf(stderr, "parse error: %s\n", message.c_str());
    std::exit(1);
  }
  long stanzas = 0;
  size_t bytes_of_names = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int reps = 5;
  int count = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--stanzas") == 0) count = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string stream = MakeStream(count);
  std::printf("stream: %d stanzas, %zu bytes, %d repetitions (best and median)\n", count,
              stream.size(), reps);
  for (size_t piece : {size_t{65536}, size_t{4096}, size_t{512}, size_t{64}, size_t{1}}) {
    std::vector<double> rates;
    for (int r = 0; r < reps; ++r) {
      Counter counter;
      buzz::XmppStreamParser parser(&counter);
      const auto start = std::chrono::steady_clock::now();
      for (size_t i = 0; i < stream.size(); i += piece) {
        parser.Parse(stream.data() + i, std::min(piece, stream.size() - i));
      }
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (counter.stanzas != count) {
        std::fprintf(stderr, "got %ld stanzas instead of %d\n", counter.stanzas, count);
        return 1;
      }
      rates.push_back(count / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("pieces of %6zu bytes: %10.0f stanzas/s best, %10.0f median, %7.1f MB/s best\n",
                piece, rates.back(), rates[rates.size() / 2],
                rates.back() * stream.size() / count / 1e6);
  }
  return 0;
}
