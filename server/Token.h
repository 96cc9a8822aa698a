// Tokens: a short text turned into an opaque, URL-safe text and back, as
// the web platform makes and reads them (report identifiers and the like).
//
// Layers, outside in: URL encoding of Base64 text (76-character lines,
// CR LF) of a hex text that holds, per character, "$hh$00" (the scrambled
// value as a little-endian 16-bit unit, byte by byte) of the output of a
// feedback scrambler over the low 8 bits of each character.
//
// Text is UTF-8 on both sides; the input is taken through the system's
// code page (Windows-1252), so characters outside Latin-1 do not survive a
// round trip. Inputs of more than kMaxTokenChars characters are refused.
//
// Pure functions: any thread. Neither function throws; every failure
// (broken percent sequences, groups that are no "$hh", over-long input)
// gives an empty text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::server {

// The scrambler's start key, multiplier and addend. They are shared with
// the web platform: these three values must equal the web platform's, or
// neither side can read the other's tokens.
struct TokenScramblerConstants {
  static constexpr uint16_t StartKey = 0x4A1D;
  static constexpr uint16_t Multiplier = 0xB3C5;
  static constexpr uint16_t Addend = 0x2E97;
};

inline constexpr size_t kMaxTokenChars = 32767;

std::string EncryptValue(std::string_view text);
std::string DecryptValue(std::string_view token);

// The layers on their own, for tests and the fuzz target.
namespace token {
// c -> r with the key advancing on r; the inverse advances on s.
std::u16string Scramble(const std::u16string& chars);
std::u16string Unscramble(const std::u16string& values);
// Every byte but letters, digits and ! $ ' ( ) * - . @ _ as "%HH"; a blank
// as "+".
std::string UrlEncode(std::string_view bytes);
// "%HH" -> byte, "%%" -> "%", "+" -> blank. False on a broken sequence.
bool UrlDecode(std::string_view text, std::string& out);
}  // namespace token

}  // namespace tarvo::server
