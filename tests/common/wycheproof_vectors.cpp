#include "wycheproof_vectors.h"

#include <fstream>
#include <sstream>

#include "manifest/ecdsa_p256.h"
#include "manifest/manifest_signature.h"

bool LoadWycheproofVectors(const std::string& path, std::vector<WycheproofVector>& out) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        WycheproofVector v;
        std::string point, msg, sig;
        if (!(fields >> v.id >> v.result >> point >> msg >> sig)) {
            return false;
        }
        std::vector<uint8_t> p;
        if (!HexToBytes(point, p) || p.size() != 65 || (msg != "-" && !HexToBytes(msg, v.message)) ||
            (sig != "-" && !HexToBytes(sig, v.signature))) {
            return false;
        }
        v.x.assign(p.begin() + 1, p.begin() + 33);
        v.y.assign(p.begin() + 33, p.end());
        out.push_back(std::move(v));
    }
    return !out.empty();
}

std::vector<int> WycheproofDisagreements(const std::vector<WycheproofVector>& vectors) {
    std::vector<int> wrong;
    for (const WycheproofVector& v : vectors) {
        const bool ok = VerifyEcdsaP256Sha256(v.message.data(), v.message.size(), v.signature, v.x, v.y);
        if ((v.result == "valid" && !ok) || (v.result == "invalid" && ok)) {
            wrong.push_back(v.id);
        }
    }
    return wrong;
}
