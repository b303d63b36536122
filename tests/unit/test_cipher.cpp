// The account cipher: it must agree byte for byte with the OV servers, and give back every payload.
#include <gtest/gtest.h>

#include "tests/common/fakes.h"
#include "wire/cipher.h"

namespace ov {
namespace {

using test::Bytes;

const std::string kMarker = Bytes({0x07, 0x05});
// The constant stored in every OV server, from which the key is made.
const std::string kStored =
    Bytes({0x3A, 0xC5, 0x17, 0x6E, 0x92, 0x0B, 0xF4, 0x58, 0x21, 0xAD, 0x7C, 0x03, 0xE9, 0x46, 0xB8, 0x5F});

MessageCipher BuiltCipher() {
  MessageCipher cipher;
  cipher.BuildMessageKey();
  return cipher;
}

TEST(Cipher, KeyAndWireBytesMatchTheOVServers) {
  MessageCipher cipher;
  EXPECT_TRUE(cipher.MessageKey().empty());
  cipher.BuildMessageKey();
  ASSERT_EQ(cipher.MessageKey().size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(static_cast<uint8_t>(cipher.MessageKey()[i]), static_cast<uint8_t>(kStored[i] + 128)) << i;
  }
  cipher.BuildMessageKey();  // built again, not appended to
  EXPECT_EQ(cipher.MessageKey().size(), 16u);

  // Zero bytes pass the key through and the offset undoes the +128: the stored constant comes out,
  // repeating every 16 bytes, so bytes 16 and 32 of the longest account payload meet the key's first.
  const std::string zeros(40, '\0');
  const std::string wire = cipher.EncryptMsg(zeros);
  EXPECT_EQ(wire, kMarker + kStored + kStored + kStored.substr(0, 8));

  // One hand-worked byte: ('A' ^ 0xBA) + 128 = 0x7B.
  EXPECT_EQ(cipher.EncryptMsg("A"), kMarker + Bytes({0x7B}));
  EXPECT_EQ(cipher.EncryptMsg(""), kMarker);
}

TEST(Cipher, EveryByteValueSurvivesTheRoundTrip) {
  const MessageCipher cipher = BuiltCipher();
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  // Reversed as well, so each byte value meets a different key byte.
  const std::string reversed(all.rbegin(), all.rend());
  for (const std::string& plain :
       {all, reversed, std::string(), Bytes({0x00}), Bytes({0x80, 0xFD, 0xFE, 0x00, 0xFF}),
        std::string("user    password        ") + Bytes({0x80}) + std::string(1, '\0') + "x"}) {
    const std::string wire = cipher.EncryptMsg(plain);
    ASSERT_EQ(wire.size(), plain.size() + 2);
    EXPECT_EQ(wire.substr(0, 2), kMarker);
    EXPECT_EQ(cipher.DecryptMsg(wire), plain);
  }
  // The enciphered form really differs from the plain one (not an identity cipher).
  EXPECT_NE(cipher.EncryptMsg(all).substr(2), all);
}

TEST(Cipher, PayloadsWithoutTheMarkerAreTakenAsPlainText) {
  const MessageCipher cipher = BuiltCipher();
  EXPECT_EQ(cipher.DecryptMsg("xyhello"), "hello");
  EXPECT_EQ(cipher.DecryptMsg(Bytes({0x07, 'X'}) + "hello"), "hello");  // half a marker is none
  EXPECT_EQ(cipher.DecryptMsg(Bytes({0x05, 0x07}) + "ab"), "ab");       // nor the marker reversed
  EXPECT_EQ(cipher.DecryptMsg(kMarker), "");
  EXPECT_EQ(cipher.DecryptMsg("q"), "");
  EXPECT_EQ(cipher.DecryptMsg(""), "");
  EXPECT_EQ(cipher.DecryptMsg(Bytes({0x00, 0x00, 0x00, 'z'})), Bytes({0x00, 'z'}));
}

TEST(Cipher, XorWithKeyRepeatsTheKeyAndLeavesTextAloneWithoutOne) {
  const std::string text = Bytes({0x00, 0x41, 0xFF, 0x80, 0x10});
  EXPECT_EQ(XorWithKey(text, ""), text);
  EXPECT_EQ(XorWithKey(text, Bytes({0x0F})), Bytes({0x0F, 0x4E, 0xF0, 0x8F, 0x1F}));
  EXPECT_EQ(XorWithKey(text, Bytes({0x01, 0x02})), Bytes({0x01, 0x43, 0xFE, 0x82, 0x11}));
  EXPECT_EQ(XorWithKey(XorWithKey(text, "key"), "key"), text);
  EXPECT_EQ(XorWithKey("", "key"), "");
}

}  // namespace
}  // namespace ov
