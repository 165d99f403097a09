#include "sila/SilaSettings.h"

#include <QRandomGenerator>
#include <QUuid>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Profile.h"

namespace {
const char *const Section = "SiLA";

bool ReadFile(const std::string &path, std::string &out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  out = s.str();
  return !out.empty();
}

// Written readable by the owner alone from the first byte on.
bool WritePrivate(const std::string &path, const std::string &text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

template <class T, void (*F)(T *)>
struct TFree {
  void operator()(T *p) const { F(p); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFree<EVP_PKEY, EVP_PKEY_free>>;
using TX509 = std::unique_ptr<X509, TFree<X509, X509_free>>;
using TBio = std::unique_ptr<BIO, TFree<BIO, BIO_free_all>>;

std::string BioText(BIO *b) {
  char *data = nullptr;
  const long n = BIO_get_mem_data(b, &data);
  return n > 0 ? std::string(data, size_t(n)) : std::string();
}

bool MakeCert(const std::string &uuid, std::string &certPem, std::string &keyPem) {
  TKey key(EVP_EC_gen("P-256"));
  TX509 x(X509_new());
  if (!key || !x) return false;
  X509_set_version(x.get(), 2);
  ASN1_INTEGER_set_int64(X509_get_serialNumber(x.get()), int64_t(QRandomGenerator::system()->generate64() >> 2));
  X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), 20L * 365 * 24 * 3600);
  X509_set_pubkey(x.get(), key.get());
  X509_NAME *name = X509_get_subject_name(x.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("SiLA2"), -1, -1, 0);
  X509_set_issuer_name(x.get(), name);
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  const std::string san = std::string("DNS:localhost,IP:127.0.0.1,IP:::1,DNS:") + host;
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, x.get(), x.get(), nullptr, nullptr, 0);
  X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, san.c_str());
  if (!ext) return false;
  X509_add_ext(x.get(), ext, -1);
  X509_EXTENSION_free(ext);
  // The server UUID, as the standard asks of an untrusted certificate.
  ASN1_OBJECT *oid = OBJ_txt2obj("1.3.6.1.4.1.58583", 1);
  ASN1_OCTET_STRING *value = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char *>(uuid.data()), int(uuid.size()));
  ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
  ASN1_OCTET_STRING_free(value);
  ASN1_OBJECT_free(oid);
  if (!ext) return false;
  X509_add_ext(x.get(), ext, -1);
  X509_EXTENSION_free(ext);
  if (X509_sign(x.get(), key.get(), EVP_sha256()) == 0) return false;
  TBio c(BIO_new(BIO_s_mem())), k(BIO_new(BIO_s_mem()));
  if (!PEM_write_bio_X509(c.get(), x.get()) ||
      !PEM_write_bio_PrivateKey(k.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
    return false;
  certPem = BioText(c.get());
  keyPem = BioText(k.get());
  return !certPem.empty() && !keyPem.empty();
}
}  // namespace

TSilaSettings LoadSilaSettings(const std::string &file) {
  TSilaSettings s;
  s.Port = ProfileReadInt(file, Section, "Port", 0);
  if (!s.On()) s.Port = 0;
  s.Lab = ProfileReadString(file, Section, "Network", "local") == "lab";
  s.Insecure = ProfileReadInt(file, Section, "Insecure", 0) == 1;
  const std::string name = ProfileReadString(file, Section, "ServerName", "");
  if (!name.empty()) s.ServerName = name.substr(0, 255);
  return s;
}

void SaveSilaSettings(const std::string &file, const TSilaSettings &s) {
  ProfileWriteInt(file, Section, "Port", s.Port);
  ProfileWriteString(file, Section, "Network", s.Lab ? "lab" : "local");
  ProfileWriteInt(file, Section, "Insecure", s.Insecure ? 1 : 0);
  ProfileWriteString(file, Section, "ServerName", s.ServerName);
}

std::string SilaServerUuid(const std::string &file) {
  std::string id = ProfileReadString(file, Section, "ServerUUID", "");
  if (QUuid::fromString(QString::fromStdString(id)).isNull() || id.size() != 36) {
    id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower().toStdString();
    ProfileWriteString(file, Section, "ServerUUID", id);
  }
  return id;
}

std::string SilaCertFingerprint(const std::string &certPem) {
  TBio b(BIO_new_mem_buf(certPem.data(), int(certPem.size())));
  TX509 x(PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!x || !X509_digest(x.get(), EVP_sha256(), md, &n)) return "";
  static const char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    if (i) out += ':';
    out += Hex[md[i] >> 4];
    out += Hex[md[i] & 15];
  }
  return out;
}

bool LoadOrMakeSilaCert(const std::string &folder, const std::string &uuid, TSilaCert &cert, std::string &error) {
  const std::string certPath = folder + "/sila-cert.pem", keyPath = folder + "/sila-key.pem";
  if (!ReadFile(certPath, cert.CertPem) || !ReadFile(keyPath, cert.KeyPem)) {
    if (!MakeCert(uuid, cert.CertPem, cert.KeyPem)) {
      error = "the certificate could not be made";
      return false;
    }
    // The key first: a certificate without its key is made anew next time.
    if (!WritePrivate(keyPath, cert.KeyPem) || !WritePrivate(certPath, cert.CertPem)) {
      error = "the certificate could not be written to " + folder;
      return false;
    }
  }
  ::chmod(keyPath.c_str(), 0600);
  cert.Fingerprint = SilaCertFingerprint(cert.CertPem);
  if (cert.Fingerprint.empty()) {
    error = certPath + " is not a certificate";
    return false;
  }
  return true;
}
