#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

#include "ocrjobs/JobControl.hpp"

namespace velmora {

// A chosen folder expanded into the image and PDF files the queue can
// recognise: bounded, stoppable, never following a link, sorted as a person
// sorts ("page2" before "page10").
namespace QueueFolderInput {

inline constexpr std::size_t defaultLimit = 5000;
inline constexpr std::size_t maximumEntries = 50000;

// unsafePath for a root that is not a plain folder; cancelled on a stop;
// budgetExceeded past the limits; a status error of an entry passes on as
// std::system_error. Nothing partial is returned.
std::vector<std::filesystem::path> enumerate(const std::filesystem::path& folder, bool recursive,
                                             const JobControl& control, std::size_t limit = defaultLimit);

// Finder-like order of two paths: case-insensitive, numbers by value.
bool naturalLess(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace QueueFolderInput
}  // namespace velmora
