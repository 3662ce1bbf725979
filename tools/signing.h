// The publisher's side of the manifest signature: P-256 keys and raw r-then-s signatures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PublicKeyHex {
    std::string x;  // 64 lowercase hex digits, big-endian
    std::string y;
};

// A new P-256 private key as PEM; empty on failure.
std::string GeneratePrivateKeyPem();

// The public coordinates of a PEM private key. False with a message when the PEM
// is not a P-256 private key.
bool PublicKeyFromPrivatePem(const std::string& pem, PublicKeyHex& out, std::string& error);

// Signs SHA-256 of `signedText` and returns the 128 lowercase hex digits of r then s
// (each left-padded to 32 bytes). False with a message on failure.
bool SignManifestText(const std::string& pem,
                      const std::string& signedText,
                      std::string& signatureHex,
                      std::string& error);

// The public key file form that the Windows build takes: "x=..." and "y=..." lines.
std::string FormatPublicKeyFile(const PublicKeyHex& key);
bool ParsePublicKeyFile(const std::string& text, PublicKeyHex& out, std::string& error);

// True when (x, y) is a point of P-256 (64 lowercase hex digits each).
bool IsP256Point(const PublicKeyHex& key);
