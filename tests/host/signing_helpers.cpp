#include "signing_helpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

TestKey MakeTestKey() {
    TestKey key;
    key.pem = GeneratePrivateKeyPem();
    std::string error;
    EXPECT_TRUE(PublicKeyFromPrivatePem(key.pem, key.pub, error)) << error;
    return key;
}

std::string SignBody(const TestKey& key, const std::string& signedText, const std::string& tail) {
    std::string sig;
    std::string error;
    EXPECT_TRUE(SignManifestText(key.pem, signedText, sig, error)) << error;
    return signedText + "sig=" + sig + tail;
}

std::string DevPrivateKeyPem() {
    std::ifstream in(VORLANE_DEV_PRIVATE_KEY);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
