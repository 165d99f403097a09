#pragma once
// Lab automation (SiLA 2) settings, section [SiLA] of KVSettings.ini, and
// what the server keeps for all time: its UUID and its TLS certificate.
// Off unless a port is set; on this computer only unless told "lab".
#include <string>

struct TSilaSettings {
  int Port = 0;         // 0: off
  bool Lab = false;     // "lab": every interface, and reads need the read token
  bool Insecure = false;  // no TLS; honoured only on this computer (not lab)
  std::string ServerName = "Kavetra dip coater";
  bool On() const { return Port > 0 && Port < 65536; }
  bool Plain() const { return Insecure && !Lab; }
};

TSilaSettings LoadSilaSettings(const std::string &file);
// A failed write throws as the profile writes do.
void SaveSilaSettings(const std::string &file, const TSilaSettings &s);
// [SiLA] ServerUUID; made (random, version 4) and written at the first call.
std::string SilaServerUuid(const std::string &file);

// The server's self-signed certificate (CN "SiLA2", the server UUID in the
// extension 1.3.6.1.4.1.58583, this computer's names), PEM.
struct TSilaCert {
  std::string CertPem, KeyPem;
  std::string Fingerprint;  // SHA-256, "AB:CD:..."
};
// Reads "sila-cert.pem" and "sila-key.pem" of `folder`, or makes both
// (readable by their owner alone) when either is missing; false with a reason.
bool LoadOrMakeSilaCert(const std::string &folder, const std::string &uuid, TSilaCert &cert, std::string &error);
// The SHA-256 fingerprint of a PEM certificate; "" when it does not parse.
std::string SilaCertFingerprint(const std::string &certPem);
