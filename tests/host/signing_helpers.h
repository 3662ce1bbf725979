// Keys and signed manifests for the host tests.
#pragma once

#include <string>

#include "tools/signing.h"

struct TestKey {
    std::string pem;
    PublicKeyHex pub;
};

// A fresh P-256 key pair (fails the calling test on error).
TestKey MakeTestKey();
// The signed text followed by "sig=" and the signature, with `tail` after the digits.
std::string SignBody(const TestKey& key, const std::string& signedText, const std::string& tail = "\n");
// The private key of the development key pair that this build carries.
std::string DevPrivateKeyPem();
