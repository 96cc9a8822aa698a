#include "server/Envelope.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "common/Codepage.h"

namespace tarvo::server::envelope {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value.
struct EncodeTable {
  char pairs[4096][2];
  EncodeTable() {
    for (int i = 0; i < 4096; ++i) {
      pairs[i][0] = kAlphabet[i >> 6];
      pairs[i][1] = kAlphabet[i & 63];
    }
  }
};
const EncodeTable& Pairs() {
  static const EncodeTable table;
  return table;
}

// 0..63 for alphabet characters, 0x80 for everything else.
struct DecodeTable {
  unsigned char v[256];
  DecodeTable() {
    std::memset(v, 0x80, sizeof v);
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  }
};
const DecodeTable& Values() {
  static const DecodeTable table;
  return table;
}

std::string OpenSslError() {
  unsigned long code = ERR_get_error();
  if (code == 0) return "OpenSSL error";
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  ERR_clear_error();
  return buf;
}

struct CtxDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Decodes one UTF-8 sequence; invalid bytes count as one character.
size_t Utf8SequenceLength(std::string_view s, size_t i, bool& astral) {
  const auto b = static_cast<unsigned char>(s[i]);
  size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
  if (i + len > s.size()) return 1;
  for (size_t k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  astral = len == 4;
  return len;
}

}  // namespace

std::string Make256BitKeyText(std::string_view key) {
  // Count UTF-16 code units; a character outside the BMP counts twice.
  std::string out;
  size_t units = 0;
  size_t i = 0;
  while (i < key.size() && units < 32) {
    bool astral = false;
    size_t len = Utf8SequenceLength(key, i, astral);
    if (astral && units == 31) {
      // Only the leading surrogate fits: it has no code-page character.
      out.push_back('?');
      units = 32;
      break;
    }
    out.append(key.substr(i, len));
    units += astral ? 2 : 1;
    i += len;
  }
  out.append(32 - units, '0');
  return out;
}

Key Make256BitKey(std::string_view key) {
  std::string bytes = Utf8ToCp1252(Make256BitKeyText(key));
  Key result{};
  std::memcpy(result.data(), bytes.data(), std::min(bytes.size(), result.size()));
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return result;
}

void AesCtrInPlace(const Key& key, char* data, size_t size, bool encrypt) {
  const char* prefix = encrypt ? "Verschl\xC3\xBCsselung fehlgeschlagen [" : "Entschl\xC3\xBCsselung fehlgeschlagen [";
  if (size == 0) return;
  std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) throw std::runtime_error(prefix + OpenSslError() + "]");
  unsigned char iv[16];
  std::memcpy(iv, kInitialCounter.data(), 16);
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, key.data(), iv, encrypt ? 1 : 0) != 1)
    throw std::runtime_error(prefix + OpenSslError() + "]");
  size_t done = 0;
  while (done < size) {
    const size_t n = std::min(kChunkSize, size - done);
    int outLen = 0;
    auto* p = reinterpret_cast<unsigned char*>(data + done);
    if (EVP_CipherUpdate(ctx.get(), p, &outLen, p, static_cast<int>(n)) != 1 || static_cast<size_t>(outLen) != n)
      throw std::runtime_error(prefix + OpenSslError() + "]");
    done += n;
  }
  // The context is wiped by EVP_CIPHER_CTX_free; the IV copy here.
  OPENSSL_cleanse(iv, sizeof iv);
}

size_t Base64EncodedSize(size_t size) {
  if (size == 0) return 0;
  const size_t chars = (size + 2) / 3 * 4;
  // One CR LF after every complete 57-byte line.
  return chars + size / 57 * 2;
}

void Base64EncodeMimeTo(std::string_view bytes, char* out) {
  const auto& pairs = Pairs().pairs;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  // Whole lines: 57 bytes -> 76 characters + CR LF.
  while (n >= 57) {
    for (int g = 0; g < 19; ++g) {
      const uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
      std::memcpy(out, pairs[v >> 12], 2);
      std::memcpy(out + 2, pairs[v & 0xFFF], 2);
      in += 3;
      out += 4;
    }
    out[0] = '\r';
    out[1] = '\n';
    out += 2;
    n -= 57;
  }
  while (n >= 3) {
    const uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
    std::memcpy(out, pairs[v >> 12], 2);
    std::memcpy(out + 2, pairs[v & 0xFFF], 2);
    in += 3;
    out += 4;
    n -= 3;
  }
  if (n == 1) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[(in[0] & 3) << 4];
    out[2] = '=';
    out[3] = '=';
  } else if (n == 2) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
    out[2] = kAlphabet[(in[1] & 15) << 2];
    out[3] = '=';
  }
}

std::string Base64EncodeMime(std::string_view bytes) {
  std::string out;
  out.resize(Base64EncodedSize(bytes.size()));
  Base64EncodeMimeTo(bytes, out.data());
  return out;
}

size_t Base64DecodedCapacity(size_t textSize) {
  return textSize / 4 * 3 + 8;
}

size_t Base64DecodeLenientTo(std::string_view text, char* outBuffer) {
  const unsigned char* v = Values().v;
  auto* o = reinterpret_cast<unsigned char*>(outBuffer);
  auto* const begin = o;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  uint32_t acc = 0;
  int have = 0;
  while (p < end) {
    if (have == 0) {
      // Fast path: eight alphabet characters give six bytes (written as
      // eight; the buffer has the slack).
      while (end - p >= 8) {
        const uint64_t a = v[p[0]], b = v[p[1]], c = v[p[2]], d = v[p[3]];
        const uint64_t e = v[p[4]], f = v[p[5]], g = v[p[6]], h = v[p[7]];
        if ((a | b | c | d | e | f | g | h) & 0x80) break;
        const uint64_t x = (a << 58) | (b << 52) | (c << 46) | (d << 40) | (e << 34) | (f << 28) | (g << 22) |
                           (h << 16);
        const uint64_t be = __builtin_bswap64(x);
        std::memcpy(o, &be, 8);
        o += 6;
        p += 8;
      }
      while (end - p >= 4) {
        const unsigned a = v[p[0]], b = v[p[1]], c = v[p[2]], d = v[p[3]];
        if ((a | b | c | d) & 0x80) break;
        const uint32_t x = (a << 18) | (b << 12) | (c << 6) | d;
        o[0] = static_cast<unsigned char>(x >> 16);
        o[1] = static_cast<unsigned char>(x >> 8);
        o[2] = static_cast<unsigned char>(x);
        o += 3;
        p += 4;
      }
      if (p >= end) break;
    }
    const unsigned x = v[*p++];
    if (x & 0x80) continue;
    acc = (acc << 6) | x;
    if (++have == 4) {
      o[0] = static_cast<unsigned char>(acc >> 16);
      o[1] = static_cast<unsigned char>(acc >> 8);
      o[2] = static_cast<unsigned char>(acc);
      o += 3;
      have = 0;
      acc = 0;
    }
  }
  // An incomplete final group: 2 characters give 1 byte, 3 give 2.
  if (have == 2) {
    *o++ = static_cast<unsigned char>(acc >> 4);
  } else if (have == 3) {
    *o++ = static_cast<unsigned char>(acc >> 10);
    *o++ = static_cast<unsigned char>(acc >> 2);
  }
  return static_cast<size_t>(o - begin);
}

std::string Base64DecodeLenient(std::string_view text) {
  std::string out;
  out.resize(Base64DecodedCapacity(text.size()));
  out.resize(Base64DecodeLenientTo(text, out.data()));
  return out;
}

std::string EncryptToBase64(std::string_view key, std::string payload) {
  Key k = Make256BitKey(key);
  try {
    AesCtrInPlace(k, payload.data(), payload.size(), true);
  } catch (...) {
    OPENSSL_cleanse(k.data(), k.size());
    throw;
  }
  OPENSSL_cleanse(k.data(), k.size());
  std::string text = Base64EncodeMime(payload);
  return text;
}

std::string DecryptFromBase64(std::string_view key, std::string_view text) {
  std::string data = Base64DecodeLenient(text);
  Key k = Make256BitKey(key);
  try {
    AesCtrInPlace(k, data.data(), data.size(), false);
  } catch (...) {
    OPENSSL_cleanse(k.data(), k.size());
    throw;
  }
  OPENSSL_cleanse(k.data(), k.size());
  return data;
}

}  // namespace tarvo::server::envelope
