// SHA-256 against the examples of FIPS 180-4 and HMAC-SHA-256 against the test cases of RFC 4231.
#include <gtest/gtest.h>

#include "system/Sha256.h"
#include "values/Values.h"

namespace {

std::string Hex(const Sha256Digest& digest) {
    std::string hex;
    for (const uint8_t byte : digest) {
        hex += HexBytes(&byte, 1);
    }
    return hex;
}

TEST(Sha256Test, DigestsOfTheStandardsExamples) {
    EXPECT_EQ(Hex(Sha256Of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Sha256Of("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million "a", given in pieces that never meet a block's end.
    Sha256 hash;
    const std::string piece(997, 'a');
    size_t given = 0;
    for (; given + piece.size() <= 1000000; given += piece.size()) {
        hash.Update(piece);
    }
    hash.Update(std::string(1000000 - given, 'a'));
    EXPECT_EQ(Hex(hash.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Test, HmacOfRfc4231) {
    std::string counting;
    for (char c = 1; c <= 25; ++c) {
        counting += c;
    }
    const std::string longKey(131, '\xaa');
    EXPECT_EQ(Hex(HmacSha256(std::string(20, '\x0b'), "Hi There")),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(Hex(HmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(Hex(HmacSha256(std::string(20, '\xaa'), std::string(50, '\xdd'))),
              "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    EXPECT_EQ(Hex(HmacSha256(counting, std::string(50, '\xcd'))),
              "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    EXPECT_EQ(Hex(HmacSha256(longKey, "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(Hex(HmacSha256(longKey,
                             "This is a test using a larger than block-size key and a larger than "
                             "block-size data. The key needs to be hashed before being used by the "
                             "HMAC algorithm.")),
              "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

}  // namespace
