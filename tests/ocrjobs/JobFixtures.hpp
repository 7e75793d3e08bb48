#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "ocrjobs/SourceIdentity.hpp"

namespace velmora::test {

// The current recognition settings, computed once: taking the engine's
// fingerprints is not free.
const OCRSettings& currentSettings();

// Real source documents.
std::filesystem::path writeSamplePNG(const std::filesystem::path& path, int shade = 90);
std::filesystem::path writeSamplePDF(const std::filesystem::path& path, int pages);
// A well-formed PDF whose page tree is empty.
std::filesystem::path writeEmptyPDF(const std::filesystem::path& path);

// A page result with one region holding the text.
PageResult sampleResult(int64_t page, const std::string& text);

// Every file of a folder with its bytes, to show that nothing changed.
std::map<std::string, std::string> folderBytes(const std::filesystem::path& folder);

}  // namespace velmora::test
