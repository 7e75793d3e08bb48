#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmora {

// Why the path chosen as an original names no file this process can read:
// nothing there (a dangling link included), no permission to read it, or a
// folder. None when a file is there to be read, whatever its content.
std::optional<std::string> unreadableOriginal(const std::filesystem::path& url);

// A PDF that opens but holds no page.
inline constexpr const char* emptyPDFSentence = "ページのないPDFです。ページのあるPDFを選んでください。";
inline constexpr const char* folderSentence = "フォルダは原稿として開けません。PNG・JPEG・PDFのファイルを選んでください。";

}  // namespace velmora
