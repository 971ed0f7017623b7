// A test certificate authority shared by the tests of one suite (made once
// per suite: key generation is the slow part).
#pragma once

#include "gtest/gtest.h"
#include "tests/peers/tls_peers.h"

namespace velmora::net {

class TlsPkiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir();
    pki_ = new testing::TestPki(*dir_);
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete dir_;
    pki_ = nullptr;
    dir_ = nullptr;
  }
  static inline testing::TempDir* dir_ = nullptr;
  static inline testing::TestPki* pki_ = nullptr;
};

}  // namespace velmora::net
