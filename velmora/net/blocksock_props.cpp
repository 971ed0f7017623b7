// The published property lists of the block sockets, the TLS plug-in and
// the protocol-client base, with their stream defaults (the constructors'
// values), for form streams and the command line's --set Name=value.
#include "velmora/net/blocksock.h"

namespace velmora::net {

using host::BooleanProperty;
using host::EnumProperty;
using host::IntegerProperty;
using host::PropInfo;
using host::StringProperty;

namespace {

std::vector<PropInfo> BlockSocketProperties() {
  using C = TBlockSocket;
  return {
      IntegerProperty<C>("Tag", &C::Tag, &C::set_Tag, 0),
      BooleanProperty<C>("RaiseExcept", &C::RaiseExcept, &C::set_RaiseExcept, false),
      IntegerProperty<C>("MaxLineLength", &C::MaxLineLength, &C::set_MaxLineLength, 0),
      IntegerProperty<C>("MaxSendBandwidth", &C::MaxSendBandwidth, &C::set_MaxSendBandwidth, 0),
      IntegerProperty<C>("MaxRecvBandwidth", &C::MaxRecvBandwidth, &C::set_MaxRecvBandwidth, 0),
      // Write-only in the model; it reads back as the send limit.
      IntegerProperty<C>("MaxBandwidth", &C::MaxSendBandwidth, &C::set_MaxBandwidth, 0),
      BooleanProperty<C>("ConvertLineEnd", &C::ConvertLineEnd, &C::set_ConvertLineEnd, false),
      EnumProperty<C, TSocketFamily>("Family", {"SF_Any", "SF_IP4", "SF_IP6"}, &C::Family,
                                     &C::set_Family, SF_Any),
      BooleanProperty<C>("PreferIP4", &C::PreferIP4, &C::set_PreferIP4, true),
      BooleanProperty<C>("InterPacketTimeout", &C::InterPacketTimeout, &C::set_InterPacketTimeout,
                         true),
      IntegerProperty<C>("SendMaxChunk", &C::SendMaxChunk, &C::set_SendMaxChunk, c64k),
      BooleanProperty<C>("StopFlag", &C::StopFlag, &C::set_StopFlag, false),
      IntegerProperty<C>("NonblockSendTimeout", &C::NonblockSendTimeout,
                         &C::set_NonblockSendTimeout, 15000),
      IntegerProperty<C>("HeartbeatRate", &C::HeartbeatRate, &C::set_HeartbeatRate, 0),
  };
}

void AddSocksProperties(std::vector<PropInfo>& list) {
  using C = TSocksBlockSocket;
  list.push_back(StringProperty<C>("SocksIP", &C::SocksIP, &C::set_SocksIP, ""));
  list.push_back(StringProperty<C>("SocksPort", &C::SocksPort, &C::set_SocksPort, "1080"));
  list.push_back(IntegerProperty<C>("SocksTimeout", &C::SocksTimeout, &C::set_SocksTimeout, 60000));
  list.push_back(StringProperty<C>("SocksUsername", &C::SocksUsername, &C::set_SocksUsername, ""));
  list.push_back(StringProperty<C>("SocksPassword", &C::SocksPassword, &C::set_SocksPassword, ""));
  list.push_back(
      BooleanProperty<C>("SocksResolver", &C::SocksResolver, &C::set_SocksResolver, true));
  list.push_back(EnumProperty<C, TSocksType>("SocksType", {"ST_Socks5", "ST_Socks4"}, &C::SocksType,
                                             &C::set_SocksType, ST_Socks5));
}

void AddTcpProperties(std::vector<PropInfo>& list) {
  using C = TTCPBlockSocket;
  list.push_back(StringProperty<C>("HTTPTunnelIP", &C::HTTPTunnelIP, &C::set_HTTPTunnelIP, ""));
  list.push_back(
      StringProperty<C>("HTTPTunnelPort", &C::HTTPTunnelPort, &C::set_HTTPTunnelPort, ""));
  list.push_back(
      StringProperty<C>("HTTPTunnelUser", &C::HTTPTunnelUser, &C::set_HTTPTunnelUser, ""));
  list.push_back(
      StringProperty<C>("HTTPTunnelPass", &C::HTTPTunnelPass, &C::set_HTTPTunnelPass, ""));
  list.push_back(IntegerProperty<C>("HTTPTunnelTimeout", &C::HTTPTunnelTimeout,
                                    &C::set_HTTPTunnelTimeout, 30000));
}

}  // namespace

const std::vector<PropInfo>& TBlockSocket::PublishedProperties() const {
  static const std::vector<PropInfo> list = BlockSocketProperties();
  return list;
}

const std::vector<PropInfo>& TSocksBlockSocket::PublishedProperties() const {
  static const std::vector<PropInfo> list = [] {
    std::vector<PropInfo> l = BlockSocketProperties();
    AddSocksProperties(l);
    return l;
  }();
  return list;
}

const std::vector<PropInfo>& TTCPBlockSocket::PublishedProperties() const {
  static const std::vector<PropInfo> list = [] {
    std::vector<PropInfo> l = BlockSocketProperties();
    AddSocksProperties(l);
    AddTcpProperties(l);
    return l;
  }();
  return list;
}

const std::vector<PropInfo>& TCustomSSL::PublishedProperties() const {
  using C = TCustomSSL;
  static const std::vector<PropInfo> list = {
      EnumProperty<C, TSSLType>(
          "SSLType", {"LT_all", "LT_SSLv2", "LT_SSLv3", "LT_TLSv1", "LT_TLSv1_1", "LT_SSHv2"},
          &C::SSLType, &C::set_SSLType, LT_all),
      StringProperty<C>("KeyPassword", &C::KeyPassword, &C::set_KeyPassword, ""),
      StringProperty<C>("Ciphers", &C::Ciphers, &C::set_Ciphers, ""),
      StringProperty<C>("CertificateFile", &C::CertificateFile, &C::set_CertificateFile, ""),
      StringProperty<C>("PrivateKeyFile", &C::PrivateKeyFile, &C::set_PrivateKeyFile, ""),
      StringProperty<C>("Certificate", &C::Certificate, &C::set_Certificate, ""),
      StringProperty<C>("PrivateKey", &C::PrivateKey, &C::set_PrivateKey, ""),
      StringProperty<C>("PFX", &C::PFX, &C::set_PFX, ""),
      StringProperty<C>("PFXfile", &C::PFXfile, &C::set_PFXfile, ""),
      StringProperty<C>("CertCA", &C::CertCA, &C::set_CertCA, ""),
      StringProperty<C>("CertCAFile", &C::CertCAFile, &C::set_CertCAFile, ""),
      StringProperty<C>("TrustCertificate", &C::TrustCertificate, &C::set_TrustCertificate, ""),
      StringProperty<C>("TrustCertificateFile", &C::TrustCertificateFile,
                        &C::set_TrustCertificateFile, ""),
      BooleanProperty<C>("VerifyCert", &C::VerifyCert, &C::set_VerifyCert, false),
      StringProperty<C>("Username", &C::Username, &C::set_Username, ""),
      StringProperty<C>("Password", &C::Password, &C::set_Password, ""),
      StringProperty<C>("SSHChannelType", &C::SSHChannelType, &C::set_SSHChannelType, ""),
      StringProperty<C>("SSHChannelArg1", &C::SSHChannelArg1, &C::set_SSHChannelArg1, ""),
      StringProperty<C>("SSHChannelArg2", &C::SSHChannelArg2, &C::set_SSHChannelArg2, ""),
      IntegerProperty<C>("CertComplianceLevel", &C::CertComplianceLevel,
                         &C::set_CertComplianceLevel, -1),
      StringProperty<C>("SNIHost", &C::SNIHost, &C::set_SNIHost, ""),
  };
  return list;
}

const std::vector<PropInfo>& TNetClient::PublishedProperties() const {
  using C = TNetClient;
  static const std::vector<PropInfo> list = {
      StringProperty<C>("TargetHost", &C::TargetHost, &C::set_TargetHost, "127.0.0.1"),
      StringProperty<C>("TargetPort", &C::TargetPort, &C::set_TargetPort, "0"),
      StringProperty<C>("IPInterface", &C::IPInterface, &C::set_IPInterface, "0.0.0.0"),
      IntegerProperty<C>("Timeout", &C::Timeout, &C::set_Timeout, 5000),
      StringProperty<C>("UserName", &C::UserName, &C::set_UserName, ""),
      StringProperty<C>("Password", &C::Password, &C::set_Password, ""),
  };
  return list;
}

}  // namespace velmora::net
