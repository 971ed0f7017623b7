// The TLS slot of the TCP socket: the plug-in interface TCustomSSL, its inert
// default TSSLNone, and SSLImplementation, the factory that makes the plug-in
// of every TCP socket created afterwards.
//
// A plug-in runs over its socket's handle (Socket()->Socket()).  What the
// socket relies on:
// - Connect/Accept return true only with a session established and
//   SslEnabled() true;
// - SendBuffer/RecvBuffer return the number of bytes moved and leave
//   SslErrorCode non-zero on failure (a SendBuffer that returned 0 or less
//   without setting SslErrorCode would stall the socket's send loop: a
//   plug-in must not do that);
// - WaitingData returns the decrypted bytes already pending;
// - RecvBuffer returns 0 with SslWantRead() true (and no error) when it took
//   only protocol records from the socket (session tickets, key updates, the
//   first part of a record): the socket then waits for its handle to become
//   readable, within the receive's time limit, and calls it again.  0 with
//   SslWantRead() false is the peer's clean close of the TLS connection.
// A back end (TSSLOpenSSL) derives from TCustomSSL, overrides what it
// supports, sets the protected state fields itself, and installs its factory
// in SSLImplementation when its library loads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "velmora/host/classes.h"
#include "velmora/host/properties.h"
#include "velmora/net/blocksock_types.h"

namespace velmora::net {

class TTCPBlockSocket;

// The protocol version a plug-in uses.
enum TSSLType : uint8_t { LT_all, LT_SSLv2, LT_SSLv3, LT_TLSv1, LT_TLSv1_1, LT_SSHv2 };

class TCustomSSL : public host::TObject {
 public:
  explicit TCustomSSL(TTCPBlockSocket& Value);
  ~TCustomSSL() override = default;
  TCustomSSL(const TCustomSSL&) = delete;
  TCustomSSL& operator=(const TCustomSSL&) = delete;
  std::string ClassName() const override { return "TCustomSSL"; }
  // The published properties (for form streams and `--set Name=value`).
  virtual const std::vector<host::PropInfo>& PublishedProperties() const;

  // Lets the application accept (true) or reject the peer certificate.
  THookVerifyCert OnVerifyCert;

  // --- Virtual operations, in slot order; the base fails every TLS
  // operation with "SSL/TLS support is not compiled!".
  virtual void SetCertCAFile(const std::string& Value);
  virtual bool CreateSelfSignedCert(const std::string& Host);
  // Copies the settings (not the hook, the SSH fields or the state).
  virtual void Assign(const TCustomSSL& Value);
  virtual std::string LibVersion();
  virtual std::string LibName();
  virtual bool Connect();
  virtual bool Accept();
  virtual bool Shutdown();
  virtual bool BiShutdown();
  virtual int32_t SendBuffer(const void* Buffer, int32_t Len);
  virtual int32_t RecvBuffer(void* Buffer, int32_t Len);
  virtual int32_t WaitingData();
  virtual std::string GetSSLVersion();
  virtual std::string GetPeerSubject();
  virtual int32_t GetPeerSerialNo();
  virtual std::string GetPeerIssuer();
  virtual std::string GetPeerName();
  virtual uint32_t GetPeerNameHash();
  virtual std::string GetPeerFingerprint();
  virtual std::string GetCertInfo();
  virtual std::string GetCipherName();
  virtual int32_t GetCipherBits();
  virtual int32_t GetCipherAlgBits();
  virtual int32_t GetVerifyCert();

  // OnVerifyCert's answer, or true when it is not set.
  bool DoVerifyCert();

  // --- Properties.
  TTCPBlockSocket* Socket() const { return socket_; }
  bool SslEnabled() const { return ssl_enabled_; }
  int32_t SslErrorCode() const { return ssl_error_code_; }
  const std::string& SslErrorText() const { return ssl_error_text_; }
  // The last RecvBuffer needs more bytes from the socket before it can
  // return application data.
  bool SslWantRead() const { return ssl_want_read_; }
  TSSLType SSLType() const { return ssl_type_; }
  void set_SSLType(TSSLType v) { ssl_type_ = v; }
  const std::string& KeyPassword() const { return key_password_; }
  void set_KeyPassword(const std::string& v) { key_password_ = v; }
  const std::string& Ciphers() const { return ciphers_; }
  void set_Ciphers(const std::string& v) { ciphers_ = v; }
  const std::string& CertificateFile() const { return certificate_file_; }
  void set_CertificateFile(const std::string& v) { certificate_file_ = v; }
  const std::string& PrivateKeyFile() const { return private_key_file_; }
  void set_PrivateKeyFile(const std::string& v) { private_key_file_ = v; }
  const std::string& Certificate() const { return certificate_; }
  void set_Certificate(const std::string& v) { certificate_ = v; }
  const std::string& PrivateKey() const { return private_key_; }
  void set_PrivateKey(const std::string& v) { private_key_ = v; }
  const std::string& PFX() const { return pfx_; }
  void set_PFX(const std::string& v) { pfx_ = v; }
  const std::string& PFXfile() const { return pfx_file_; }
  void set_PFXfile(const std::string& v) { pfx_file_ = v; }
  const std::string& CertCA() const { return cert_ca_; }
  void set_CertCA(const std::string& v) { cert_ca_ = v; }
  const std::string& CertCAFile() const { return cert_ca_file_; }
  void set_CertCAFile(const std::string& v) { SetCertCAFile(v); }
  const std::string& TrustCertificate() const { return trust_certificate_; }
  void set_TrustCertificate(const std::string& v) { trust_certificate_ = v; }
  const std::string& TrustCertificateFile() const { return trust_certificate_file_; }
  void set_TrustCertificateFile(const std::string& v) { trust_certificate_file_ = v; }
  bool VerifyCert() const { return verify_cert_; }
  void set_VerifyCert(bool v) { verify_cert_ = v; }
  const std::string& Username() const { return username_; }
  void set_Username(const std::string& v) { username_ = v; }
  const std::string& Password() const { return password_; }
  void set_Password(const std::string& v) { password_ = v; }
  const std::string& SSHChannelType() const { return ssh_channel_type_; }
  void set_SSHChannelType(const std::string& v) { ssh_channel_type_ = v; }
  const std::string& SSHChannelArg1() const { return ssh_channel_arg1_; }
  void set_SSHChannelArg1(const std::string& v) { ssh_channel_arg1_ = v; }
  const std::string& SSHChannelArg2() const { return ssh_channel_arg2_; }
  void set_SSHChannelArg2(const std::string& v) { ssh_channel_arg2_ = v; }
  int32_t CertComplianceLevel() const { return cert_compliance_level_; }
  void set_CertComplianceLevel(int32_t v) { cert_compliance_level_ = v; }
  const std::string& SNIHost() const { return sni_host_; }
  void set_SNIHost(const std::string& v) { sni_host_ = v; }

 protected:
  // SslErrorCode := -1, SslErrorText := "SSL/TLS support is not compiled!".
  void ReturnError();

  TTCPBlockSocket* socket_;
  bool ssl_enabled_ = false;
  int32_t ssl_error_code_ = 0;
  std::string ssl_error_text_;
  bool ssl_want_read_ = false;
  TSSLType ssl_type_ = LT_all;
  std::string key_password_;
  std::string ciphers_;
  std::string certificate_file_;
  std::string private_key_file_;
  std::string certificate_;
  std::string private_key_;
  std::string pfx_;
  std::string pfx_file_;
  std::string cert_ca_;
  std::string cert_ca_file_;
  std::string trust_certificate_;
  std::string trust_certificate_file_;
  bool verify_cert_ = false;
  std::string username_;
  std::string password_;
  std::string ssh_channel_type_;
  std::string ssh_channel_arg1_;
  std::string ssh_channel_arg2_;
  int32_t cert_compliance_level_ = -1;
  std::string sni_host_;
};

// The plug-in without a TLS library: every TLS operation fails with
// "SSL/TLS support is not compiled!".
class TSSLNone : public TCustomSSL {
 public:
  using TCustomSSL::TCustomSSL;
  std::string ClassName() const override { return "TSSLNone"; }
  std::string LibVersion() override;
  std::string LibName() override;
};

// Makes the plug-in for a new TCP socket (the class reference).  A plain
// function pointer, so that SSLImplementation is constant-initialised: a TLS
// unit may install its factory from any start-up code without racing the
// variable's own initialisation.
using TSSLClass = std::unique_ptr<TCustomSSL> (*)(TTCPBlockSocket&);
// Any plug-in maker, for a socket constructed with a plug-in of its own.
using TSSLFactory = std::function<std::unique_ptr<TCustomSSL>(TTCPBlockSocket&)>;

// The factory of TSSLNone.
std::unique_ptr<TCustomSSL> MakeSSLNone(TTCPBlockSocket& Socket);

// The plug-in factory of TCP sockets created from now on; TSSLNone's until a
// TLS unit installs its own.  Read only when a socket is constructed.
extern constinit TSSLClass SSLImplementation;

}  // namespace velmora::net
