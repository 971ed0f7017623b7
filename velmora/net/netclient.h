// TNetClient: the small base of protocol clients (the HTTP client derives
// from it): where to connect, from which local address, with what time-out
// and credentials.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/host/classes.h"
#include "velmora/host/properties.h"

namespace velmora::net {

class TNetClient : public host::TObject {
 public:
  TNetClient() = default;
  std::string ClassName() const override { return "TNetClient"; }
  // The published properties (for form streams and `--set Name=value`).
  virtual const std::vector<host::PropInfo>& PublishedProperties() const;

  const std::string& TargetHost() const { return target_host_; }
  void set_TargetHost(const std::string& v) { target_host_ = v; }
  const std::string& TargetPort() const { return target_port_; }
  void set_TargetPort(const std::string& v) { target_port_ = v; }
  // The local address to bind to; "0.0.0.0" for any.
  const std::string& IPInterface() const { return ip_interface_; }
  void set_IPInterface(const std::string& v) { ip_interface_ = v; }
  // Milliseconds.
  int32_t Timeout() const { return timeout_; }
  void set_Timeout(int32_t v) { timeout_ = v; }
  const std::string& UserName() const { return user_name_; }
  void set_UserName(const std::string& v) { user_name_ = v; }
  const std::string& Password() const { return password_; }
  void set_Password(const std::string& v) { password_ = v; }

 protected:
  std::string target_host_ = "127.0.0.1";
  std::string target_port_ = "0";
  std::string ip_interface_ = "0.0.0.0";
  int32_t timeout_ = 5000;
  std::string user_name_;
  std::string password_;
};

}  // namespace velmora::net
