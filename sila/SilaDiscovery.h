#pragma once
// DNS-SD announcement of the SiLA 2 server on the lab network (Avahi):
// service "<server UUID>._sila._tcp" on the server's port, with the TXT
// entries the standard lists (version, server_name, description) and, the
// certificate being self-signed, the certificate's PEM lines as ca0, ca1, ...
#include <memory>
#include <string>

class TSilaAnnouncer {
public:
  TSilaAnnouncer(const std::string &uuid, int port, const std::string &name, const std::string &description,
                 const std::string &certPem);
  ~TSilaAnnouncer();
  TSilaAnnouncer(const TSilaAnnouncer &) = delete;
  TSilaAnnouncer &operator=(const TSilaAnnouncer &) = delete;
  // Empty when the announcement is under way, else why it is not.
  const std::string &Error() const { return Why; }

private:
  struct TAvahi;
  std::unique_ptr<TAvahi> A;
  std::string Why;
};
