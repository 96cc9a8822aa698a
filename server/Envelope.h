// The encrypted message envelope shared with the web platform: AES-256 in
// counter mode from a fixed initial counter block, a key derived from the
// security key, and Base64 transport text with MIME line breaks.
//
// Every call starts a fresh cipher state at the initial counter block; no
// state is shared, so any thread may call any function at any time.
//
// Errors: cipher failures raise std::runtime_error "Verschlüsselung
// fehlgeschlagen [...]" or "Entschlüsselung fehlgeschlagen [...]". The
// Base64 reader never fails: characters outside the alphabet are skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::server::envelope {

// The 16 bytes of the initial counter block.
inline constexpr std::string_view kInitialCounter = "Hp3xVuN9dRtE6yWk";
// Payloads are encrypted in chunks of this size (a multiple of 16).
inline constexpr size_t kChunkSize = 8u << 20;

using Key = std::array<unsigned char, 32>;

// The 32-character key text (UTF-8): the first 32 characters of `key`, or
// `key` padded with '0' digits to 32 characters. Characters are counted as
// UTF-16 code units.
std::string Make256BitKeyText(std::string_view key);
// The AES key: the key text in Windows-1252 (a character the code page
// lacks becomes '?').
Key Make256BitKey(std::string_view key);

// XORs `data` in place with the keystream of a fresh counter (encryption
// and decryption are the same operation).
void AesCtrInPlace(const Key& key, char* data, size_t size, bool encrypt = true);

// Base64 with "+" and "/", "=" padding, and CR LF after every 76
// characters made from complete three-byte groups (the final line, the one
// with any padding, has no CR LF after it).
std::string Base64EncodeMime(std::string_view bytes);
size_t Base64EncodedSize(size_t size);
// Writes exactly Base64EncodedSize(size) characters to `out`.
void Base64EncodeMimeTo(std::string_view bytes, char* out);
// Skips every character outside the alphabet (CR, LF, blanks, "=", ...);
// leftover bits of an incomplete final group are dropped.
std::string Base64DecodeLenient(std::string_view text);
// The same into a buffer of at least Base64DecodedCapacity(text.size())
// bytes; returns the number of bytes decoded.
size_t Base64DecodedCapacity(size_t textSize);
size_t Base64DecodeLenientTo(std::string_view text, char* out);

// Payload bytes -> encrypted Base64 text, and back.
std::string EncryptToBase64(std::string_view key, std::string payload);
std::string DecryptFromBase64(std::string_view key, std::string_view text);

}  // namespace tarvo::server::envelope
