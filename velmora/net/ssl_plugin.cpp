// The TLS plug-in base class and the inert default plug-in.
#include "velmora/net/ssl_plugin.h"

namespace velmora::net {

constinit TSSLClass SSLImplementation = MakeSSLNone;

std::unique_ptr<TCustomSSL> MakeSSLNone(TTCPBlockSocket& Socket) {
  return std::make_unique<TSSLNone>(Socket);
}

TCustomSSL::TCustomSSL(TTCPBlockSocket& Value) : socket_(&Value) {}

void TCustomSSL::ReturnError() {
  ssl_error_code_ = -1;
  ssl_error_text_ = "SSL/TLS support is not compiled!";
}

void TCustomSSL::SetCertCAFile(const std::string& Value) {
  cert_ca_file_ = Value;
}

bool TCustomSSL::CreateSelfSignedCert(const std::string&) {
  return false;
}

void TCustomSSL::Assign(const TCustomSSL& Value) {
  username_ = Value.username_;
  password_ = Value.password_;
  verify_cert_ = Value.verify_cert_;
  ssl_type_ = Value.ssl_type_;
  key_password_ = Value.key_password_;
  ciphers_ = Value.ciphers_;
  certificate_file_ = Value.certificate_file_;
  private_key_file_ = Value.private_key_file_;
  cert_ca_file_ = Value.cert_ca_file_;
  cert_ca_ = Value.cert_ca_;
  trust_certificate_ = Value.trust_certificate_;
  trust_certificate_file_ = Value.trust_certificate_file_;
  certificate_ = Value.certificate_;
  private_key_ = Value.private_key_;
  pfx_ = Value.pfx_;
  pfx_file_ = Value.pfx_file_;
  cert_compliance_level_ = Value.cert_compliance_level_;
  sni_host_ = Value.sni_host_;
}

std::string TCustomSSL::LibVersion() {
  return "";
}
std::string TCustomSSL::LibName() {
  return "";
}

bool TCustomSSL::Connect() {
  ReturnError();
  return false;
}

bool TCustomSSL::Accept() {
  ReturnError();
  return false;
}

bool TCustomSSL::Shutdown() {
  ReturnError();
  return false;
}

bool TCustomSSL::BiShutdown() {
  ReturnError();
  return false;
}

int32_t TCustomSSL::SendBuffer(const void*, int32_t) {
  ReturnError();
  return -1;
}

int32_t TCustomSSL::RecvBuffer(void*, int32_t) {
  ReturnError();
  return -1;
}

int32_t TCustomSSL::WaitingData() {
  ReturnError();
  return 0;
}

std::string TCustomSSL::GetSSLVersion() {
  return "";
}
std::string TCustomSSL::GetPeerSubject() {
  return "";
}
int32_t TCustomSSL::GetPeerSerialNo() {
  return -1;
}
std::string TCustomSSL::GetPeerIssuer() {
  return "";
}
std::string TCustomSSL::GetPeerName() {
  return "";
}
uint32_t TCustomSSL::GetPeerNameHash() {
  return 0;
}
std::string TCustomSSL::GetPeerFingerprint() {
  return "";
}
std::string TCustomSSL::GetCertInfo() {
  return "";
}
std::string TCustomSSL::GetCipherName() {
  return "";
}
int32_t TCustomSSL::GetCipherBits() {
  return 0;
}
int32_t TCustomSSL::GetCipherAlgBits() {
  return 0;
}
int32_t TCustomSSL::GetVerifyCert() {
  return 1;
}

bool TCustomSSL::DoVerifyCert() {
  if (OnVerifyCert) return OnVerifyCert(this);
  return true;
}

std::string TSSLNone::LibVersion() {
  return "Without SSL support";
}
std::string TSSLNone::LibName() {
  return "ssl_none";
}

}  // namespace velmora::net
