#include "sila/SilaDiscovery.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <sstream>

struct TSilaAnnouncer::TAvahi {
  AvahiThreadedPoll *Poll = nullptr;
  AvahiClient *Client = nullptr;
  AvahiEntryGroup *Group = nullptr;
  AvahiStringList *Txt = nullptr;
  std::string Name;
  int Port = 0;

  // On Avahi's thread (or in avahi_client_new): (re)publishes once the daemon runs.
  static void OnClient(AvahiClient *c, AvahiClientState state, void *self) {
    auto *a = static_cast<TAvahi *>(self);
    if (state != AVAHI_CLIENT_S_RUNNING) {
      if (a->Group) avahi_entry_group_reset(a->Group);
      return;
    }
    if (!a->Group) a->Group = avahi_entry_group_new(c, nullptr, nullptr);
    if (!a->Group || !avahi_entry_group_is_empty(a->Group)) return;
    if (avahi_entry_group_add_service_strlst(a->Group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                             a->Name.c_str(), "_sila._tcp", nullptr, nullptr, uint16_t(a->Port),
                                             a->Txt) == 0)
      avahi_entry_group_commit(a->Group);
  }
  ~TAvahi() {
    if (Poll) avahi_threaded_poll_stop(Poll);
    if (Client) avahi_client_free(Client);  // frees the group too
    if (Poll) avahi_threaded_poll_free(Poll);
    if (Txt) avahi_string_list_free(Txt);
  }
};

TSilaAnnouncer::TSilaAnnouncer(const std::string &uuid, int port, const std::string &name,
                               const std::string &description, const std::string &certPem)
    : A(new TAvahi) {
  A->Name = uuid;
  A->Port = port;
  // A TXT entry holds at most 255 bytes.
  auto add = [this](const std::string &key, const std::string &value) {
    A->Txt = avahi_string_list_add_pair(A->Txt, key.c_str(), value.substr(0, 250 - key.size()).c_str());
  };
  add("version", "1.1");
  add("server_name", name);
  add("description", description);
  std::istringstream pem(certPem);
  int n = 0;
  for (std::string line; std::getline(pem, line);)
    if (!line.empty()) add("ca" + std::to_string(n++), line);
  A->Poll = avahi_threaded_poll_new();
  if (!A->Poll) {
    Why = "no Avahi event loop";
    return;
  }
  int error = 0;
  A->Client = avahi_client_new(avahi_threaded_poll_get(A->Poll), AvahiClientFlags(0), TAvahi::OnClient, A.get(),
                               &error);
  if (!A->Client) {
    Why = std::string("Avahi: ") + avahi_strerror(error);
    return;
  }
  if (avahi_threaded_poll_start(A->Poll) < 0) Why = "the Avahi thread did not start";
}

TSilaAnnouncer::~TSilaAnnouncer() = default;
