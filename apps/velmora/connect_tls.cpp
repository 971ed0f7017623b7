#include "apps/velmora/connect_tls.h"

#include <unistd.h>

#include <cstdio>

namespace velmora::app {

namespace {

// Where Debian keeps the system's trusted authorities in one file.
constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

}  // namespace

std::vector<OptionSpec> TlsOptions() {
  return {{"--tls", "", "speak TLS over the connection (like openssl s_client -quiet)"},
          {"--sni", "NAME", "server name to present (default: HOST when it is a name)"},
          {"--cafile", "FILE", "trusted certificate authorities (PEM)"},
          {"--verify", "", "refuse a server whose certificate does not verify for the host"},
          {"--cert", "FILE", "client certificate (PEM or DER)"},
          {"--key", "FILE", "private key of the client certificate (--pass: its password)"}};
}

void ConfigureTls(net::TTCPBlockSocket& sock, const Args& args, const std::string& host) {
  const bool tls = args.Has("--tls");
  for (const char* option : {"--sni", "--cafile", "--verify", "--cert", "--key"})
    if (args.Has(option) && !tls) throw UsageError(std::string(option) + " needs --tls");
  if (args.Has("--key") != args.Has("--cert")) throw UsageError("--cert and --key go together");
  if (!tls) return;
  net::TCustomSSL* ssl = sock.SSL();
  if (ssl->LibName() == "ssl_none")
    throw WorkFailed("TLS is not available: OpenSSL 3 (libssl3) did not load");
  ssl->set_SNIHost(args.Get("--sni", host));
  ssl->set_VerifyCert(args.Has("--verify"));
  if (args.Has("--cafile"))
    ssl->set_CertCAFile(args.Get("--cafile"));
  else if (args.Has("--verify") && ::access(kSystemCaBundle, R_OK) == 0)
    ssl->set_CertCAFile(kSystemCaBundle);
  if (args.Has("--cert")) {
    ssl->set_CertificateFile(args.Get("--cert"));
    ssl->set_PrivateKeyFile(args.Get("--key"));
    ssl->set_KeyPassword(args.Get("--pass"));
  }
}

void TraceTls(net::TTCPBlockSocket& sock) {
  net::TCustomSSL* ssl = sock.SSL();
  const int32_t verify = ssl->GetVerifyCert();
  std::fprintf(stderr, "tls: %s, %s (%d bits)\n", ssl->GetSSLVersion().c_str(),
               ssl->GetCipherName().c_str(), ssl->GetCipherBits());
  std::fprintf(stderr, "tls subject: %s\n", ssl->GetPeerSubject().c_str());
  std::fprintf(stderr, "tls issuer: %s\n", ssl->GetPeerIssuer().c_str());
  std::fprintf(stderr, "tls verify: %d%s%s\n", verify, verify == 0 ? " (ok)" : "",
               ssl->VerifyCert() ? "" : " (not required)");
}

}  // namespace velmora::app
