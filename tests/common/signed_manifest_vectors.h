// Manifests signed with fresh keys by the test fixtures, and the checks that the host
// and the Windows build run over them alike.
#pragma once

#include <string>
#include <vector>

struct SignedManifestVector {
    std::string x, y;  // public key, hex
    std::string body;  // signed text + "sig=" + digits + LF
};

bool LoadSignedManifestVectors(const std::string& path, std::vector<SignedManifestVector>& out);

// Splits and verifies `body` with the vector's key.
bool VerifySignedBody(const SignedManifestVector& v, const std::string& body);

// Positions (in the body) of single-byte changes that were NOT refused: every byte of the
// signed text and of the signature digits is flipped in turn.
std::vector<size_t> AcceptedSingleByteChanges(const SignedManifestVector& v);

// The whole check of one build: every vector in `path` verifies and no single changed byte
// of any of them does. Reports through GoogleTest.
void ExpectVectorsVerifyAndRefuseChanges(const char* path);
