#pragma once

// What every fuzz target shares: a scratch folder of its own, a picture of a
// folder tree to compare before and after a read, and the rule that a reader
// fails only with the errors it documents.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"

namespace velmora::fuzz {

// Prints what went wrong and aborts, so libFuzzer keeps the input.
[[noreturn]] void fail(std::string_view what);

// A private folder under TMPDIR for this process, removed at exit.
const std::filesystem::path& scratch();
// An empty folder of that name under scratch(), emptied first if it exists.
std::filesystem::path freshFolder(std::string_view name);
// Writes the bytes as a plain file with mode 0600 (not through the product's
// writers: the input must land exactly as given).
void writeFile(const std::filesystem::path& url, const uint8_t* data, std::size_t size);
void writeFile(const std::filesystem::path& url, const std::vector<uint8_t>& bytes);

// Every entry under a folder by relative path: its type, mode, size, inode
// and content, so that any write, rename or deletion shows as a difference.
using TreePicture = std::map<std::string, std::string>;
TreePicture picture(const std::filesystem::path& folder);
// Aborts when the folder no longer looks as pictured.
void requireUnchanged(const TreePicture& before, const std::filesystem::path& folder, std::string_view reader);

// The number of open descriptors of this process, for noticing a reader
// that leaves a file (and with it a lock) open.
std::size_t openDescriptors();
// Aborts when the lease file exists and its lock cannot be taken now.
void requireLeaseFree(const std::filesystem::path& folder, std::string_view name);

enum class Outcome { read, refused };

// Runs a reader: returns read when it returns, refused when it throws one of
// its documented failures (a BrindlexError, or a JSON::DecodeError where the
// reader passes that on); any other exception aborts.
template <typename Body>
Outcome documented(std::string_view reader, Body&& body, bool decodeErrorsPass = true) {
    try {
        body();
        return Outcome::read;
    } catch (const BrindlexError&) {
        return Outcome::refused;
    } catch (const JSON::DecodeError& e) {
        if (decodeErrorsPass) return Outcome::refused;
        fail(std::string(reader) + ": a decoding error escaped: " + e.what());
    } catch (const std::exception& e) {
        fail(std::string(reader) + ": undocumented exception: " + e.what());
    } catch (...) {
        fail(std::string(reader) + ": a non-standard exception");
    }
}

// The SHA-256 (lower-case hex) the product's envelopes carry for a payload.
std::string digestHex(const std::vector<uint8_t>& payload);
// An envelope {"payload": Base64, "sha256": digest} around arbitrary bytes,
// so that a target reaches the payload's decoder through the real file read.
std::vector<uint8_t> sealedEnvelope(const std::vector<uint8_t>& payload);

}  // namespace velmora::fuzz

namespace velmora::fuzz {

// The UUID text a record names under key, when the bytes are a JSON object
// naming one (or, with unwrap, an envelope whose payload is); otherwise the
// fallback. Folder names must match such ids for a record to be believed, so
// targets name their folders by them to reach past that first check.
std::string namedID(const std::vector<uint8_t>& bytes, std::string_view key, bool unwrap, std::string_view fallback);

}  // namespace velmora::fuzz
