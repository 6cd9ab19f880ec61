// A product's folder as unpack make and unpack delta see it: every file and
// folder below the root, with the attributes and times the archive keeps.
#ifndef TOOLS_UNPACK_PRODUCT_FOLDER_H_
#define TOOLS_UNPACK_PRODUCT_FOLDER_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/unpack/zip_writer.h"

struct ProductItem {
  std::string name;            // relative, '/'-separated, UTF-8; a folder's ends in '/'
  std::string key;             // the name as Windows tells names apart (ReleasePathKey)
  std::filesystem::path path;  // on disk
  bool isDirectory = false;
  uint64_t size = 0;
  ZipEntryMeta meta;
};

// Every item below root, sorted by name. False, with *why, when root is no
// folder, or an item cannot be shipped: a link or a device, a name the
// updater would refuse (release_path.h), or two names Windows takes for one.
bool ScanProductFolder(const std::filesystem::path& root, std::vector<ProductItem>* items,
                       std::string* why);

// The whole file at path; false when it cannot be read.
bool ReadFileBytes(const std::filesystem::path& path, std::string* bytes);

// The platform's part: attributes and times of the item at path.
// product_folder_posix.cpp or product_folder_win32.cpp.
bool ReadItemMeta(const std::filesystem::path& path, ZipEntryMeta* meta);

#endif  // TOOLS_UNPACK_PRODUCT_FOLDER_H_
